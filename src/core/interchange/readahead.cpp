#include "readahead.h"

#include <QIODevice>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

namespace interchange {

namespace {

// A batch goes to the delivering thread at this many items or bytes, whichever comes first:
// few enough handovers to cost nothing, small enough that the delivering thread never waits
// long for the next.
constexpr size_t batchItems = 256;
constexpr qsizetype batchBytes = 1024 * 1024;

using Item = std::variant<ImportedContact, SkippedEntry>;

// About the memory a value holds: its UTF-16 and the allocation's header. Shared copies are
// counted twice, which only errs on the side of less read-ahead.
qsizetype heldBytes(const QString &text)
{
    return text.isEmpty() ? 0 : 32 + text.size() * qsizetype(sizeof(QChar));
}

qsizetype heldBytes(const ImportedContact &contact)
{
    qsizetype bytes = sizeof(Item);
    for (const QString &value : contact.values)
        bytes += heldBytes(value);
    for (const QString &extra : contact.extras)
        bytes += sizeof(QString) + heldBytes(extra);
    return bytes;
}

qsizetype heldBytes(const SkippedEntry &skip)
{
    return sizeof(Item) + heldBytes(skip.reason);
}

struct Batch
{
    std::vector<Item> items;
    qsizetype bytes = 0;
    qint64 position = 0;
};

// Batches from the reading thread to the delivering one, in order, and the account of the
// bytes in flight: the reader holds bytes before it gathers an item, the deliverer releases
// them once the item's batch is delivered.
class BatchQueue
{
public:
    enum class Hold { Held, Full, Stopped };

    // Holds bytes for one item; with wait, waits until they fit or nothing else is in flight.
    Hold hold(qsizetype bytes, bool wait)
    {
        std::unique_lock lock(m_mutex);
        const auto room = [&] {
            return m_stopped || m_held == 0 || m_held + bytes <= readAheadBytes;
        };
        if (wait)
            m_changed.wait(lock, room);
        else if (!room())
            return Hold::Full;
        if (m_stopped)
            return Hold::Stopped;
        m_held += bytes;
        return Hold::Held;
    }

    void release(qsizetype bytes)
    {
        std::lock_guard lock(m_mutex);
        m_held -= bytes;
        m_changed.notify_all();
    }

    // The deliverer wants nothing more: the reader's next hold says so.
    void stop()
    {
        std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

    void push(Batch &&batch)
    {
        std::lock_guard lock(m_mutex);
        m_batches.push_back(std::move(batch));
        m_changed.notify_all();
    }

    void finish(Result<void> &&result)
    {
        std::lock_guard lock(m_mutex);
        m_result = std::move(result);
        m_finished = true;
        m_changed.notify_all();
    }

    // The next batch, or nothing once the reader has finished and every batch is taken.
    std::optional<Batch> pop()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !m_batches.empty() || m_finished; });
        if (m_batches.empty())
            return std::nullopt;
        Batch batch = std::move(m_batches.front());
        m_batches.pop_front();
        return batch;
    }

    Result<void> result() const { return m_result; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
    qsizetype m_held = 0;
    bool m_stopped = false;
    bool m_finished = false;
    Result<void> m_result;
};

} // namespace

Result<void> readAhead(QIODevice &input,
                       const std::function<Result<void>(const ReadSink &)> &read,
                       const ReadSink &deliver,
                       const std::function<void(qint64 position)> &progress)
{
    BatchQueue queue;
    std::thread reader([&] {
        Batch current;
        const auto flush = [&] {
            current.position = input.pos();
            queue.push(std::exchange(current, {}));
        };
        // False once the deliverer has stopped.
        const auto add = [&](auto &&item) {
            const qsizetype bytes = heldBytes(item);
            BatchQueue::Hold held = queue.hold(bytes, false);
            if (held == BatchQueue::Hold::Full) {
                // Room comes only from delivered batches: what is gathered goes first.
                if (!current.items.empty())
                    flush();
                held = queue.hold(bytes, true);
            }
            if (held == BatchQueue::Hold::Stopped)
                return false;
            current.items.emplace_back(std::move(item));
            current.bytes += bytes;
            if (current.items.size() >= batchItems || current.bytes >= batchBytes)
                flush();
            return true;
        };
        const ReadSink sink{[&](ImportedContact &&contact) -> Result<void> {
                                if (!add(std::move(contact)))
                                    return Failure::usage(QStringLiteral("The import stopped."));
                                return {};
                            },
                            [&](SkippedEntry &&skip) {
                                add(std::move(skip));
                            }};
        Result<void> result = read(sink);
        flush();
        queue.finish(std::move(result));
    });
    std::optional<Failure> delivery;
    while (std::optional<Batch> batch = queue.pop()) {
        for (Item &item : batch->items) {
            if (delivery)
                break;
            if (auto *contact = std::get_if<ImportedContact>(&item)) {
                if (Result<void> taken = deliver.contact(std::move(*contact)); !taken) {
                    delivery = taken.failure();
                    queue.stop();
                }
            } else {
                deliver.skipped(std::move(std::get<SkippedEntry>(item)));
            }
        }
        const qsizetype bytes = batch->bytes;
        const qint64 position = batch->position;
        batch.reset(); // the items' memory goes before the room is given back
        queue.release(bytes);
        if (progress && !delivery)
            progress(position);
    }
    reader.join();
    if (delivery)
        return *delivery;
    return queue.result();
}

} // namespace interchange
