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

constexpr size_t batchSize = 256;
constexpr size_t batchesWaiting = 8;

struct Batch
{
    std::vector<std::variant<ImportedContact, SkippedEntry>> items;
    qint64 position = 0;
};

// Batches from the reading thread to the delivering one, in order, the reader waiting while
// the queue is full.
class BatchQueue
{
public:
    void push(Batch &&batch)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_batches.size() < batchesWaiting; });
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
        m_changed.notify_all();
        return batch;
    }

    Result<void> result() const { return m_result; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Batch> m_batches;
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
        auto add = [&](auto &&item) {
            current.items.emplace_back(std::move(item));
            if (current.items.size() >= batchSize) {
                current.position = input.pos();
                queue.push(std::exchange(current, {}));
            }
        };
        const ReadSink sink{[&](ImportedContact &&contact) { add(std::move(contact)); },
                            [&](SkippedEntry &&skip) {
                                add(std::move(skip));
                            }};
        Result<void> result = read(sink);
        current.position = input.pos();
        queue.push(std::move(current));
        queue.finish(std::move(result));
    });
    while (std::optional<Batch> batch = queue.pop()) {
        for (auto &item : batch->items) {
            if (auto *contact = std::get_if<ImportedContact>(&item))
                deliver.contact(std::move(*contact));
            else
                deliver.skipped(std::move(std::get<SkippedEntry>(item)));
        }
        if (progress)
            progress(batch->position);
    }
    reader.join();
    return queue.result();
}

} // namespace interchange
