#include <core/text/collation.h>

namespace {

// The locale name as the environment gives it, without encoding or modifier
// ("de_DE.UTF-8@euro" -> "de_DE"); empty for the C and POSIX locales.
QByteArray environmentLocaleName()
{
    QByteArray name;
    for (const char *variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
        name = qgetenv(variable);
        if (!name.isEmpty())
            break;
    }
    for (char separator : {'.', '@'}) {
        const qsizetype at = name.indexOf(separator);
        if (at >= 0)
            name.truncate(at);
    }
    if (name == "C" || name == "POSIX")
        return {};
    return name;
}

} // namespace

QLocale collationLocale()
{
    // Qt compares code points under its C locale; English has no rules of its own beyond
    // ICU's root order, so it stands for the root here, and for any locale Qt does not know.
    const QLocale locale(QString::fromLatin1(environmentLocaleName()));
    return locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
}

QByteArray collationLocaleId()
{
    return environmentLocaleName();
}

NameCollator::NameCollator()
    : m_collator(collationLocale())
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    m_collator.setNumericMode(false);
    m_collator.setIgnorePunctuation(false);
}
