#include <core/interchange/jetimport.h>

#include <core/files/apppath.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

#include <array>
#include <cmath>
#include <optional>

namespace interchange {

namespace {

constexpr quint32 nullLength = 0xFFFFFFFF;
// No frame of a contact comes near this; a larger length is a damaged stream, and reading
// it would only hold memory.
constexpr quint32 maxPayload = 256 * 1024 * 1024;
constexpr int frameHead = 5;

QString &overriddenReaderPath()
{
    static QString path;
    return path;
}

// Reads the payload of one frame; any read past its end marks it bad.
class Payload
{
public:
    explicit Payload(QByteArrayView bytes)
        : m_bytes(bytes)
    {}

    quint32 u32()
    {
        if (m_bytes.size() - m_pos < 4) {
            m_bad = true;
            return 0;
        }
        const auto *p = reinterpret_cast<const uchar *>(m_bytes.data() + m_pos);
        m_pos += 4;
        return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
    }

    // nullopt for NULL; a text that is not UTF-8 marks the payload bad.
    std::optional<QString> string()
    {
        const quint32 length = u32();
        if (m_bad || length == nullLength)
            return std::nullopt;
        if (qsizetype(length) > m_bytes.size() - m_pos) {
            m_bad = true;
            return std::nullopt;
        }
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder(m_bytes.sliced(m_pos, length));
        m_bad = m_bad || decoder.hasError();
        m_pos += length;
        return text;
    }

    // Every byte read, none missing.
    bool whole() const { return !m_bad && m_pos == m_bytes.size(); }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
    bool m_bad = false;
};

// The id as the whole number it is, however the file's column stored it ("7", "7.0").
QString wholeNumberId(const QString &value)
{
    bool isNumber = false;
    value.toLongLong(&isNumber);
    if (isNumber || value.isEmpty())
        return value;
    const double number = value.toDouble(&isNumber);
    if (isNumber && std::isfinite(number) && number == std::floor(number)
        && std::fabs(number) < 9.0e15)
        return QString::number(qint64(number));
    return value;
}

// Takes the reader's frames apart as they arrive.
class FrameParser
{
public:
    explicit FrameParser(const ReadSink &sink)
        : m_sink(sink)
    {}

    enum class State { More, Ended, ReaderFailed };

    // Consumes the complete frames at the start of buffer. A failure is the reason alone.
    Result<State> consume(QByteArray &buffer)
    {
        qsizetype pos = 0;
        State state = State::More;
        while (state == State::More && buffer.size() - pos >= frameHead) {
            const char kind = buffer.at(pos);
            if (!QByteArrayView("HREX").contains(kind))
                return Failure{QStringLiteral("The reader sent an unexpected frame (kind %1).")
                                   .arg(uchar(kind))};
            const quint32 length = Payload(QByteArrayView(buffer).sliced(pos + 1, 4)).u32();
            if (length > maxPayload)
                return Failure{QStringLiteral("The reader sent a frame of %1 bytes.").arg(length)};
            if (buffer.size() - pos - frameHead < qsizetype(length))
                break;
            const Result<State> frame
                = take(kind, QByteArrayView(buffer).sliced(pos + frameHead, length));
            if (!frame)
                return frame;
            state = *frame;
            pos += frameHead + length;
        }
        buffer.remove(0, pos);
        if (state != State::More && !buffer.isEmpty())
            return Failure{QStringLiteral("The reader sent bytes after its last frame.")};
        return state;
    }

    const JetReadReport &report() const { return m_report; }
    const QString &readerReason() const { return m_readerReason; }
    // Set when the sink failed: its message names its own file.
    const std::optional<Failure> &sinkFailure() const { return m_sinkFailure; }

private:
    Result<State> take(char kind, QByteArrayView bytes)
    {
        Payload payload(bytes);
        const bool headerSeen = m_columnCount >= 0;
        if (kind == 'X') {
            m_readerReason = QString::fromUtf8(bytes);
            return State::ReaderFailed;
        }
        if (kind == 'H' && !headerSeen)
            return header(payload);
        if (kind == 'R' && headerSeen)
            return row(payload);
        if (kind == 'E' && headerSeen) {
            const quint32 rows = payload.u32();
            if (!payload.whole())
                return malformed("end");
            if (rows != quint32(m_report.rows))
                return Failure{QStringLiteral("The reader counted %1 rows but sent %2.")
                                   .arg(rows)
                                   .arg(m_report.rows)};
            return State::Ended;
        }
        return Failure{
            QStringLiteral("The reader sent an unexpected frame (kind %1).").arg(uchar(kind))};
    }

    Failure malformed(const char *what) const
    {
        return Failure{
            QStringLiteral("The reader sent a malformed %1 frame.").arg(QLatin1String(what))};
    }

    Result<State> header(Payload &payload)
    {
        const quint32 count = payload.u32();
        QStringList names;
        for (quint32 i = 0; i < count; ++i) {
            const std::optional<QString> name = payload.string();
            if (!name)
                return malformed("header");
            names << *name;
        }
        if (!payload.whole())
            return malformed("header");
        m_columnCount = int(count);
        m_fieldOf.assign(size_t(count), -1);
        for (int field = 0; field < contactFieldCount; ++field) {
            qsizetype found = -1;
            for (qsizetype i = 0; i < names.size() && found < 0; ++i) {
                if (names.at(i).compare(columnName(fieldAt(field)), Qt::CaseInsensitive) == 0
                    && m_fieldOf[size_t(i)] < 0)
                    found = i;
            }
            if (found < 0)
                m_report.missingFields << columnName(fieldAt(field));
            else
                m_fieldOf[size_t(found)] = field;
        }
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (m_fieldOf[size_t(i)] < 0)
                m_report.extraColumns << names.at(i);
        }
        return State::More;
    }

    Result<State> row(Payload &payload)
    {
        if (payload.u32() != quint32(m_columnCount))
            return malformed("row");
        ImportedContact contact;
        for (int i = 0; i < m_columnCount; ++i) {
            std::optional<QString> value = payload.string();
            const int field = m_fieldOf[size_t(i)];
            if (value && field >= 0)
                contact.values[field]
                    = isOneLineField(fieldAt(field)) ? asOneLine(*value) : std::move(*value);
        }
        if (!payload.whole())
            return malformed("row");
        QString &id = contact.values[fieldIndex(ContactField::ContactId)];
        id = wholeNumberId(id);
        contact.line = ++m_report.rows;
        if (Result<void> taken = m_sink.contact(std::move(contact)); !taken) {
            m_sinkFailure = taken.failure();
            return taken.failure();
        }
        return State::More;
    }

    const ReadSink &m_sink;
    JetReadReport m_report;
    int m_columnCount = -1;
    std::vector<int> m_fieldOf; // the program's field each column fills, -1 for none
    QString m_readerReason;
    std::optional<Failure> m_sinkFailure;
};

} // namespace

bool isJetFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray start = file.read(19);
    const QByteArray signature = start.mid(4);
    return signature == "Standard Jet DB" || signature == "Standard ACE DB";
}

QString jetReaderPath()
{
    if (!overriddenReaderPath().isEmpty())
        return overriddenReaderPath();
    // Beside the executable in a build or a portable folder (even one without an address
    // book yet), else in the helpers' folder of an installed program.
    const QString beside
        = QCoreApplication::applicationDirPath() + QStringLiteral("/pelmora-jetreader");
    if (QFileInfo::exists(beside))
        return beside;
    return files::helperDir() + QStringLiteral("/pelmora-jetreader");
}

void setJetReaderPathForTesting(const QString &path)
{
    overriddenReaderPath() = path;
}

Result<JetReadReport>
readJetFile(const QString &path, const ReadSink &sink, const JetReadOptions &options)
{
    const auto failed = [&path](const QString &reason) {
        return Failure{
            fileProblem(QStringLiteral("The Access (Jet) file could not be read."), path, reason)};
    };
    QProcess reader;
    // libmdb's own complaints go where ours go; a pipe nobody reads would stall the reader.
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    reader.start(jetReaderPath(), {path}, QIODevice::ReadOnly);
    if (!reader.waitForStarted())
        return failed(QStringLiteral("The reader %1 could not be started: %2")
                          .arg(jetReaderPath(), reader.errorString()));
    const auto stop = [&reader] {
        reader.kill();
        reader.waitForFinished();
    };

    FrameParser parser(sink);
    QByteArray buffer;
    QElapsedTimer clock;
    clock.start();
    FrameParser::State state = FrameParser::State::More;
    while (state == FrameParser::State::More) {
        buffer += reader.readAllStandardOutput();
        const Result<FrameParser::State> consumed = parser.consume(buffer);
        if (!consumed) {
            stop();
            if (parser.sinkFailure())
                return *parser.sinkFailure();
            return failed(consumed.error());
        }
        state = *consumed;
        if (state != FrameParser::State::More)
            break;
        if (reader.state() == QProcess::NotRunning)
            break;
        const qint64 left
            = std::min<qint64>(options.idleTimeoutMs, options.totalTimeoutMs - clock.elapsed());
        if (left <= 0
            || (!reader.waitForReadyRead(int(left)) && reader.state() != QProcess::NotRunning)) {
            stop();
            return failed(clock.elapsed() >= options.totalTimeoutMs
                              ? QStringLiteral("The reader had not finished after %1 s.")
                                    .arg(options.totalTimeoutMs / 1000)
                              : QStringLiteral("The reader stopped answering for %1 s.")
                                    .arg(options.idleTimeoutMs / 1000));
        }
    }
    if (state != FrameParser::State::More) {
        const qint64 left = std::max<qint64>(0, options.totalTimeoutMs - clock.elapsed());
        if (!reader.waitForFinished(int(std::min<qint64>(left, options.idleTimeoutMs)))
            && reader.state() != QProcess::NotRunning) {
            stop();
            return failed(QStringLiteral("The reader did not end after its last frame."));
        }
        if (!reader.readAllStandardOutput().isEmpty())
            return failed(QStringLiteral("The reader sent bytes after its last frame."));
    }
    if (reader.exitStatus() == QProcess::CrashExit)
        return failed(QStringLiteral("The reader crashed (signal %1).").arg(reader.exitCode()));
    if (state == FrameParser::State::ReaderFailed)
        return failed(parser.readerReason());
    if (state == FrameParser::State::More)
        return failed(QStringLiteral("The reader ended (status %1) before the end of the table.")
                          .arg(reader.exitCode()));
    if (reader.exitCode() != 0)
        return failed(QStringLiteral("The reader ended with status %1.").arg(reader.exitCode()));
    return parser.report();
}

} // namespace interchange
