#include "printable.h"

#include <algorithm>

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QString escaped(QStringView text, bool keepLineFeeds)
{
    const auto needsEscape = [&](QChar c) {
        return isControl(c.unicode()) && !(keepLineFeeds && c == u'\n');
    };
    if (std::none_of(text.begin(), text.end(), needsEscape))
        return text.toString();
    QString out;
    out.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (needsEscape(c))
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

QString printable(QStringView text)
{
    return escaped(text, false);
}

QString printableLines(QStringView text)
{
    return escaped(text, true);
}
