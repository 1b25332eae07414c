#include <core/interchange/spreadsheetcell.h>

namespace interchange {

namespace {

constexpr QChar textMark = u'\'';

bool startsFormula(QChar c)
{
    return c == u'=' || c == u'+' || c == u'-' || c == u'@' || c == u'\t' || c == u'\r';
}

// "+" and a number as people write one: a spreadsheet shows it as it is.
bool isPlainPhoneNumber(QStringView text)
{
    if (!text.startsWith(u'+'))
        return false;
    bool digit = false;
    for (const QChar c : text.mid(1)) {
        if (c.isDigit() && c.unicode() < 0x80)
            digit = true;
        else if (!QStringView(u" ().-/").contains(c))
            return false;
    }
    return digit;
}

// Where the value's leading apostrophes end.
qsizetype afterTextMarks(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size() && text[at] == textMark)
        ++at;
    return at;
}

} // namespace

QString toSpreadsheetCell(const QString &value)
{
    const qsizetype at = afterTextMarks(value);
    if (at == value.size() || !startsFormula(value[at]))
        return value;
    if (at == 0 && isPlainPhoneNumber(value))
        return value;
    return textMark + value;
}

QString fromSpreadsheetCell(const QString &cell)
{
    const qsizetype at = afterTextMarks(cell);
    if (at == 0 || at == cell.size() || !startsFormula(cell[at]))
        return cell;
    return cell.mid(1);
}

} // namespace interchange
