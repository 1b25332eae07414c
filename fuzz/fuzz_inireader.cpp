// Fuzzes settings::readIniKey against a plain, whole-file reading of the same rules: any
// difference, crash, hang or change to the file is a finding.
//
// Input: "<section>\0<key>\0<file content>"; without two NUL bytes the whole input is the
// file and the program's own names are used (section "settings", key "sorttype").
#include <core/files/textdecoding.h>
#include <core/settings/inireader.h>

#include <QByteArray>
#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QByteArray asciiLower(QByteArray bytes)
{
    for (char &c : bytes) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return bytes;
}

// The rules, read over the whole file at once.
QByteArray
expectedValue(const QByteArray &content, const QByteArray &section, const QByteArray &key)
{
    const QByteArray header = "[" + asciiLower(section) + "]";
    const QByteArray prefix = asciiLower(key) + "=";
    QList<QByteArray> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < content.size(); ++i) {
        if (content[i] == '\r' || content[i] == '\n') {
            lines << content.mid(start, i - start);
            if (content[i] == '\r' && i + 1 < content.size() && content[i + 1] == '\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < content.size())
        lines << content.mid(start);

    bool inSection = false;
    for (const QByteArray &line : lines) {
        const QByteArray lower = asciiLower(line);
        const bool bracket = lower.contains('[');
        if (bracket)
            inSection = false;
        if (lower == header)
            inSection = true;
        else if (!bracket && inSection && lower.startsWith(prefix))
            return line.mid(prefix.size());
    }
    return {};
}

const QString &filePath()
{
    static const QString path = [] {
        char folder[] = "/tmp/fuzz_inireader.XXXXXX";
        if (!::mkdtemp(folder))
            std::abort();
        static const QString made = QString::fromLocal8Bit(folder);
        std::atexit([] { QDir(made).removeRecursively(); });
        return made + QStringLiteral("/settings.ini");
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QByteArray section = "settings";
    QByteArray key = "sorttype";
    QByteArray content = input;
    const qsizetype first = input.indexOf('\0');
    const qsizetype second = first < 0 ? -1 : input.indexOf('\0', first + 1);
    if (second >= 0) {
        section = input.left(first);
        key = input.mid(first + 1, second - first - 1);
        content = input.mid(second + 1);
    }

    QFile file(filePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(content) != content.size())
        std::abort();
    file.close();

    const Result<QString> result
        = settings::readIniKey(filePath(), QString::fromUtf8(section), QString::fromUtf8(key));
    if (!result) {
        std::fprintf(stderr, "unexpected error: %s\n", qPrintable(result.error()));
        std::abort();
    }
    // Names that are not valid UTF-8 do not survive the trip through QString; the program
    // only ever passes ASCII names.
    const QByteArray expected = expectedValue(content, QString::fromUtf8(section).toUtf8(),
                                              QString::fromUtf8(key).toUtf8());
    if (*result != files::decodeText(expected)) {
        std::fprintf(stderr, "value differs: got \"%s\", expected \"%s\"\n", qPrintable(*result),
                     expected.constData());
        std::abort();
    }
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != content) {
        std::fprintf(stderr, "the file was changed\n");
        std::abort();
    }
    return 0;
}
