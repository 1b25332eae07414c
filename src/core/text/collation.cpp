#include <core/text/collation.h>

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <QRegularExpression>

#include <memory>

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

struct NameFolder::Private
{
    std::unique_ptr<icu::Collator> collator;
};

NameFolder::NameFolder()
    : d(std::make_unique<Private>())
{
    UErrorCode status = U_ZERO_ERROR;
    const QByteArray id = collationLocaleId();
    d->collator.reset(icu::Collator::createInstance(
        id.isEmpty() ? icu::Locale::getRoot() : icu::Locale(id.constData()), status));
    if (U_FAILURE(status))
        d->collator.reset();
    else
        d->collator->setStrength(icu::Collator::PRIMARY);
}

NameFolder::~NameFolder() = default;

QByteArray NameFolder::key(const QString &name) const
{
    QString compact = name;
    compact.remove(QRegularExpression(QStringLiteral("\\s+")));
    if (!d->collator)
        return compact.toCaseFolded().toUtf8();
    const auto *text = reinterpret_cast<const UChar *>(compact.utf16());
    QByteArray key(64, Qt::Uninitialized);
    int32_t length
        = d->collator->getSortKey(text, int32_t(compact.size()),
                                  reinterpret_cast<uint8_t *>(key.data()), int32_t(key.size()));
    if (length > key.size()) {
        key.resize(length);
        length = d->collator->getSortKey(text, int32_t(compact.size()),
                                         reinterpret_cast<uint8_t *>(key.data()), length);
    }
    key.resize(length);
    return key;
}
