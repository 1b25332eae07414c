#include <core/text/alphabeticindex.h>

#include <QTest>

// The letters below are those of each language's alphabet as its readers file names, not
// whatever the library answers: a row fails when the index files a name elsewhere.
class TestAlphabeticIndex : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void letterFollowsTheLocalesAlphabet_data();
    void letterFollowsTheLocalesAlphabet();

private:
    const QByteArray m_startLocale = qgetenv("LC_ALL");
};

void TestAlphabeticIndex::cleanup()
{
    qputenv("LC_ALL", m_startLocale);
}

void TestAlphabeticIndex::letterFollowsTheLocalesAlphabet_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("letter");

    struct Row
    {
        const char *locale;
        const char *name;
        const char *letter;
    };
    const Row rows[] = {
        // German files umlauts with their base letter.
        {"de_DE.UTF-8", "Öberg", "O"},
        {"de_DE.UTF-8", "Ärger", "A"},
        {"de_DE.UTF-8", "Schulz", "S"},
        // Swedish: Å, Ä, Ö are letters after Z; Ø is filed as Ö and Ü as Y.
        {"sv_SE.UTF-8", "Öberg", "Ö"},
        {"sv_SE.UTF-8", "Åberg", "Å"},
        {"sv_SE.UTF-8", "Ärlig", "Ä"},
        {"sv_SE.UTF-8", "Ødegaard", "Ö"},
        {"sv_SE.UTF-8", "Üllner", "Y"},
        {"sv_SE.UTF-8", "Olsson", "O"},
        // Danish: Ø is a letter of its own, and Aa in a name is read as Å.
        {"da_DK.UTF-8", "Ødegaard", "Ø"},
        {"da_DK.UTF-8", "Aarup", "Å"},
        // Polish letters with diacritics follow their base letter.
        {"pl_PL.UTF-8", "Łukasik", "Ł"},
        {"pl_PL.UTF-8", "Lis", "L"},
        {"pl_PL.UTF-8", "Ćosić", "Ć"},
        {"pl_PL.UTF-8", "Cieślak", "C"},
        {"pl_PL.UTF-8", "Źródło", "Ź"},
        {"pl_PL.UTF-8", "Żak", "Ż"},
        // Czech: CH is one letter after H; a háček makes a letter of its own.
        {"cs_CZ.UTF-8", "Chmiel", "CH"},
        {"cs_CZ.UTF-8", "Cibulka", "C"},
        {"cs_CZ.UTF-8", "Šťastný", "Š"},
        {"cs_CZ.UTF-8", "Řezník", "Ř"},
        // Spanish: Ñ follows N; CH and LL are no longer letters of their own.
        {"es_ES.UTF-8", "Ñúñez", "Ñ"},
        {"es_ES.UTF-8", "Núñez", "N"},
        {"es_ES.UTF-8", "Chávez", "C"},
        {"es_ES.UTF-8", "Llorente", "L"},
        // Turkish: dotless I and dotted İ are two letters, in either case.
        {"tr_TR.UTF-8", "İnce", "İ"},
        {"tr_TR.UTF-8", "ilhan", "İ"},
        {"tr_TR.UTF-8", "Işık", "I"},
        {"tr_TR.UTF-8", "ısık", "I"},
        {"tr_TR.UTF-8", "Şahin", "Ş"},
        {"tr_TR.UTF-8", "Öztürk", "Ö"},
        // Japanese: the kana rows, katakana with hiragana, voiced kana with the plain row;
        // a kanji name has no reading to file it by.
        {"ja_JP.UTF-8", "いとう", "あ"},
        {"ja_JP.UTF-8", "サトウ", "さ"},
        {"ja_JP.UTF-8", "ごとう", "か"},
        {"ja_JP.UTF-8", "わたなべ", "わ"},
        {"ja_JP.UTF-8", "伊藤", "#"},
        {"ja_JP.UTF-8", "Smith", "S"},
        // Russian files Ё under Е.
        {"ru_RU.UTF-8", "Иванов", "И"},
        {"ru_RU.UTF-8", "Ёлкин", "Е"},
        {"ru_RU.UTF-8", "Smith", "S"},
        // English: accented and stroked letters under their base letter; other scripts
        // under their own letters.
        {"en_US.UTF-8", "Ćosić", "C"},
        {"en_US.UTF-8", "łukasik", "L"},
        {"en_US.UTF-8", "Ødegaard", "O"},
        {"en_US.UTF-8", "Šťastný", "S"},
        {"en_US.UTF-8", "Иванов", "И"},
        {"en_US.UTF-8", "Αλέξης", "Α"},
        {"en_US.UTF-8", "いとう", "あ"},
        // The C locale and one nobody knows: plain Unicode order, English letters.
        {"C", "Ødegaard", "O"},
        {"C", "Łukasik", "L"},
        {"C", "yılmaz", "Y"},
        {"xx_YY.UTF-8", "Öberg", "O"},
        // No letter to file by.
        {"en_US.UTF-8", "", "#"},
        {"en_US.UTF-8", "123", "#"},
        {"en_US.UTF-8", "-x", "#"},
        {"sv_SE.UTF-8", "(Öberg)", "#"},
        {"C", "", "#"},
    };
    for (const Row &row : rows)
        QTest::addRow("%s %s", row.locale, row.name)
            << QByteArray(row.locale) << QString::fromUtf8(row.name)
            << QString::fromUtf8(row.letter);
}

void TestAlphabeticIndex::letterFollowsTheLocalesAlphabet()
{
    QFETCH(QByteArray, locale);
    QFETCH(QString, name);
    QFETCH(QString, letter);
    qputenv("LC_ALL", locale);
    QCOMPARE(AlphabeticIndex().letter(name), letter);
}

QTEST_GUILESS_MAIN(TestAlphabeticIndex)
#include "tst_alphabeticindex.moc"
