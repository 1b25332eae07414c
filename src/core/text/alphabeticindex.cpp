#include <core/text/alphabeticindex.h>

#include <core/text/collation.h>

#include <QList>

#include <unicode/alphaindex.h>
#include <unicode/locid.h>

namespace {

const QString noLetter = QStringLiteral("#");

// The scripts whose letters are added to the locale's own, so that names written in them
// get headings instead of "#" wherever the list is printed: English for Latin (a Russian
// or Japanese locale indexes no Latin of its own), then the scripts of the names an
// address book most often holds. Chinese is left out on purpose: a Han character's letter
// depends on its reading, which only a Chinese locale's own index knows.
constexpr const char *otherScripts[]
    = {"en", "el", "ru", "uk", "hy", "ka", "he", "ar", "hi", "th", "ko", "ja"};

bool startsWithLetter(const QString &name)
{
    if (name.isEmpty())
        return false;
    const QChar first = name.at(0);
    if (first.isHighSurrogate() && name.size() > 1 && name.at(1).isLowSurrogate())
        return QChar::isLetter(QChar::surrogateToUcs4(first, name.at(1)));
    return first.isLetter();
}

} // namespace

struct AlphabeticIndex::Private
{
    std::unique_ptr<icu::AlphabeticIndex::ImmutableIndex> index;
    QList<QString> labels; // per bucket; "#" for the buckets between and around the letters
};

namespace {

std::unique_ptr<icu::AlphabeticIndex::ImmutableIndex> buildIndex(const icu::Locale &locale)
{
    UErrorCode status = U_ZERO_ERROR;
    icu::AlphabeticIndex index(locale, status);
    // The default of 99 would drop letters once the other scripts are in.
    index.setMaxLabelCount(1000, status);
    for (const char *script : otherScripts)
        index.addLabels(icu::Locale(script), status);
    std::unique_ptr<icu::AlphabeticIndex::ImmutableIndex> immutable(
        index.buildImmutableIndex(status));
    if (U_FAILURE(status))
        return nullptr;
    return immutable;
}

} // namespace

AlphabeticIndex::AlphabeticIndex()
    : d(std::make_unique<Private>())
{
    const QByteArray localeId = collationLocaleId();
    d->index = buildIndex(localeId.isEmpty() ? icu::Locale::getRoot()
                                             : icu::Locale(localeId.constData()));
    // A locale ICU cannot build an index for still gets the root's letters.
    if (!d->index)
        d->index = buildIndex(icu::Locale::getRoot());
    if (!d->index)
        return;
    for (int32_t i = 0; i < d->index->getBucketCount(); ++i) {
        const icu::AlphabeticIndex::Bucket *bucket = d->index->getBucket(i);
        if (bucket->getLabelType() != U_ALPHAINDEX_NORMAL) {
            d->labels.append(noLetter);
            continue;
        }
        const icu::UnicodeString &label = bucket->getLabel();
        d->labels.append(
            QString(reinterpret_cast<const QChar *>(label.getBuffer()), label.length()));
    }
}

AlphabeticIndex::~AlphabeticIndex() = default;

QString AlphabeticIndex::letter(const QString &name) const
{
    if (!startsWithLetter(name))
        return noLetter;
    if (!d->index) // without ICU's data: the plain first letter
        return name.left(name.at(0).isHighSurrogate() ? 2 : 1).toUpper();
    UErrorCode status = U_ZERO_ERROR;
    // Aliases the name's characters instead of copying them.
    const icu::UnicodeString text(false, reinterpret_cast<const char16_t *>(name.utf16()),
                                  int32_t(name.size()));
    const int32_t bucket = d->index->getBucketIndex(text, status);
    if (U_FAILURE(status) || bucket < 0 || bucket >= d->labels.size())
        return noLetter;
    return d->labels.at(bucket);
}
