// The application folder: portable beside the executable or the user's own, the first-start
// fill that never replaces a file, and folders that cannot be made or filled.
#include <core/contacts/contactdatabase.h>
#include <core/files/apppath.h>
#include <sqlite/connection.h>
#include <support/childprocess.h>
#include <support/filemode.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// The files an installed Pelmora puts in share/pelmora, with made-up contents: the fill is
// about which files land where, not about what they hold.
const QList<QPair<QString, QByteArray>> templateFiles{
    {QStringLiteral("cntdb.mdb"), "template address book"},
    {QStringLiteral("phonelist.rpt"), "{\"phone\": 1}"},
    {QStringLiteral("addresslist.rpt"), "{\"address\": 1}"},
    {QStringLiteral("emaillist.rpt"), "{\"email\": 1}"},
    {QStringLiteral("Program Data/settings.ini"), "[settings]\r\nsorttype=lastname\r\n"},
    {QStringLiteral("Program Data/crystl32.ini"), "[settings]\r\ninstalled=1\r\n"},
    {QStringLiteral("Program Data/ProgramInfo.txt"), "About Pelmora\r\n"},
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate)
           && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Read-only templates, as a package leaves them for a user.
bool writeTemplates(const QString &folder)
{
    for (const auto &[name, bytes] : templateFiles) {
        const QString path = folder + QLatin1Char('/') + name;
        if (!writeFile(path, bytes)
            || !QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup
                                                | QFileDevice::ReadOther))
            return false;
    }
    return true;
}

// The mode of the journal a write to the address book makes beside it.
QString journalModeOf(const QString &book)
{
    sqlite::Connection db;
    if (!db.open(book, sqlite::Connection::Mode::ReadWrite)
        || !db.exec(QStringLiteral("begin immediate; insert into contactsdb(contactid) values(1)")))
        return QStringLiteral("<no write: %1>").arg(db.errorMessage());
    const QString mode = fileMode(book + QStringLiteral("-journal"));
    db.exec(QStringLiteral("rollback"));
    return mode;
}

// Lets the user nobody walk every folder below root and read every file.
void openToEveryone(const QString &root)
{
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                      | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                      | QFileDevice::ExeOther;
    QFile::setPermissions(root, open);
    QDirIterator it(root, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        QFile::setPermissions(it.next(), open);
}

// A made-up install prefix: a copy of an executable in bin/, templates in share/pelmora/.
struct Prefix
{
    QString root;
    QString bin() const { return root + QStringLiteral("/bin"); }
    QString templates() const { return root + QStringLiteral("/share/pelmora"); }

    bool make(const QString &executable) const
    {
        const QString copy = bin() + QLatin1Char('/') + QFileInfo(executable).fileName();
        return QDir().mkpath(bin()) && QFile::copy(executable, copy) && writeTemplates(templates());
    }
    QString program(const QString &executable) const
    {
        return bin() + QLatin1Char('/') + QFileInfo(executable).fileName();
    }
};

// Runs program with HOME set and XDG_DATA_HOME set or removed, as root or as nobody.
ChildResult runWithHome(const QString &program,
                        const QStringList &arguments,
                        const QString &home,
                        const QString &xdgDataHome = {},
                        bool asNobody = false)
{
    QStringList env;
    if (xdgDataHome.isEmpty())
        env << QStringLiteral("-u") << QStringLiteral("XDG_DATA_HOME");
    else
        env << QStringLiteral("XDG_DATA_HOME=") + xdgDataHome;
    env << QStringLiteral("HOME=") + home << program << arguments;
    return asNobody ? runAsNobody(QStringLiteral("env"), env)
                    : runChild(QStringLiteral("env"), env);
}

} // namespace

class TestAppPath : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void planAppFolder_data();
    void planAppFolder();
    void userDataHome_data();
    void userDataHome();
    void firstStartFill_data();
    void firstStartFill();
    void fileModes_data();
    void fileModes();
    void folderThatCannotBeMade_data();
    void folderThatCannotBeMade();
    void deniedFolder_data();
    void deniedFolder();
    void executableChoosesFolder_data();
    void executableChoosesFolder();
    void contactsToolDefaultDatabase();

private:
    QTemporaryDir *m_dir = nullptr;
    QByteArray m_home;
    QByteArray m_xdg;
    bool m_hadXdg = false;
};

void TestAppPath::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_home = qgetenv("HOME");
    m_hadXdg = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    m_xdg = qgetenv("XDG_DATA_HOME");
}

void TestAppPath::cleanup()
{
    qputenv("HOME", m_home);
    if (m_hadXdg)
        qputenv("XDG_DATA_HOME", m_xdg);
    else
        qunsetenv("XDG_DATA_HOME");
    delete m_dir;
    m_dir = nullptr;
}

void TestAppPath::planAppFolder_data()
{
    // Beside the executable: "cntdb.mdb" (a file), "cntdb.mdb/" (a folder of that name),
    // "Program Data/" or nothing.
    QTest::addColumn<QString>("besideExecutable");
    QTest::addColumn<bool>("templatesInstalled");
    QTest::addColumn<QString>("dataHome");
    QTest::addColumn<bool>("portable");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("templates");
    QTest::addColumn<QString>("helpers");

    QTest::newRow("address book beside the executable: portable")
        << "cntdb.mdb" << true << "home/.local/share" << true << "prefix/bin"
        << ""
        << "prefix/bin";
    QTest::newRow("Program Data without the address book: portable")
        << "Program Data/" << true << "home/.local/share" << true << "prefix/bin"
        << ""
        << "prefix/bin";
    QTest::newRow("nothing beside the executable: the user's folder")
        << "" << true << "home/.local/share" << false << "home/.local/share/pelmora"
        << "prefix/share/pelmora"
        << "prefix/lib/pelmora";
    QTest::newRow("nothing beside and no templates: portable")
        << "" << false << "home/.local/share" << true << "prefix/bin"
        << ""
        << "prefix/bin";
    QTest::newRow("a folder named cntdb.mdb is no address book")
        << "cntdb.mdb/" << true << "home/.local/share" << false << "home/.local/share/pelmora"
        << "prefix/share/pelmora"
        << "prefix/lib/pelmora";
    QTest::newRow("data home with a trailing separator")
        << "" << true << "xdg/" << false << "xdg/pelmora"
        << "prefix/share/pelmora"
        << "prefix/lib/pelmora";
}

void TestAppPath::planAppFolder()
{
    QFETCH(QString, besideExecutable);
    QFETCH(bool, templatesInstalled);
    QFETCH(QString, dataHome);
    QFETCH(bool, portable);
    QFETCH(QString, folder);
    QFETCH(QString, templates);
    QFETCH(QString, helpers);
    const QString root = m_dir->path() + QLatin1Char('/');
    const QString bin = root + QStringLiteral("prefix/bin");
    QVERIFY(QDir().mkpath(bin));
    const QString beside = bin + QLatin1Char('/') + besideExecutable;
    if (besideExecutable.endsWith(QLatin1Char('/')))
        QVERIFY(QDir().mkpath(beside));
    else if (!besideExecutable.isEmpty())
        QVERIFY(writeFile(beside, "db"));
    if (templatesInstalled)
        QVERIFY(writeTemplates(root + QStringLiteral("prefix/share/pelmora")));

    // The executable's folder as Qt reports it may carry "..": the plan cleans it.
    const files::AppFolderPlan plan
        = files::planAppFolder(bin + QStringLiteral("/../bin"), root + dataHome);
    QCOMPARE(plan.portable, portable);
    QCOMPARE(plan.folder, root + folder);
    QCOMPARE(plan.templates, templates.isEmpty() ? QString() : root + templates);
    QCOMPARE(plan.helpers, root + helpers);
}

void TestAppPath::userDataHome_data()
{
    QTest::addColumn<QString>("xdgDataHome"); // "<unset>" removes the variable
    QTest::addColumn<QString>("expected");    // relative to HOME unless absolute

    QTest::newRow("unset") << "<unset>"
                           << ".local/share";
    QTest::newRow("empty") << ""
                           << ".local/share";
    QTest::newRow("absolute") << "/srv/data/"
                              << "/srv/data";
    QTest::newRow("relative is ignored") << "data"
                                         << ".local/share";
}

void TestAppPath::userDataHome()
{
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, expected);
    const QString home = m_dir->path() + QStringLiteral("/home");
    qputenv("HOME", QFile::encodeName(home));
    if (xdgDataHome == QLatin1String("<unset>"))
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", QFile::encodeName(xdgDataHome));
    QCOMPARE(files::userDataHome(),
             QDir::isAbsolutePath(expected) ? expected : home + QLatin1Char('/') + expected);
}

void TestAppPath::firstStartFill_data()
{
    QTest::addColumn<bool>("folderExists");
    // Files the user already has, with their own contents: each must stay as it is.
    QTest::addColumn<QStringList>("usersFiles");

    QTest::newRow("first start: no folder") << false << QStringList{};
    QTest::newRow("an empty folder") << true << QStringList{};
    QTest::newRow("changed settings kept, the rest copied")
        << true << QStringList{"Program Data/settings.ini"};
    QTest::newRow("own address book and a report kept")
        << true << QStringList{"cntdb.mdb", "phonelist.rpt"};
    QTest::newRow("everything there: nothing replaced")
        << true
        << QStringList{"cntdb.mdb",
                       "phonelist.rpt",
                       "addresslist.rpt",
                       "emaillist.rpt",
                       "Program Data/settings.ini",
                       "Program Data/crystl32.ini",
                       "Program Data/ProgramInfo.txt"};
}

void TestAppPath::firstStartFill()
{
    QFETCH(bool, folderExists);
    QFETCH(QStringList, usersFiles);
    const QString root = m_dir->path();
    const files::AppFolderPlan plan{root + QStringLiteral("/home/.local/share/pelmora"),
                                    root + QStringLiteral("/prefix/share/pelmora"),
                                    root + QStringLiteral("/prefix/lib/pelmora"), false};
    QVERIFY(writeTemplates(plan.templates));
    if (folderExists)
        QVERIFY(QDir().mkpath(plan.folder));
    for (const QString &name : usersFiles)
        QVERIFY(writeFile(plan.folder + QLatin1Char('/') + name, "the user's " + name.toUtf8()));

    const Result<void> prepared = files::prepareAppFolder(plan);
    QVERIFY2(prepared.ok(), qPrintable(prepared.error()));

    for (const auto &[name, bytes] : templateFiles) {
        const QString path = plan.folder + QLatin1Char('/') + name;
        const QByteArray expected
            = usersFiles.contains(name) ? "the user's " + name.toUtf8() : bytes;
        QCOMPARE(readFile(path), expected);
        // The templates are read-only; what the user has must be theirs to change.
        QVERIFY2(QFileInfo(path).permissions() & QFileDevice::WriteOwner, qPrintable(path));
    }
    // A second start finds nothing to do and changes nothing.
    QVERIFY(writeFile(plan.folder + QStringLiteral("/Program Data/settings.ini"), "changed"));
    QVERIFY(files::prepareAppFolder(plan).ok());
    QCOMPARE(readFile(plan.folder + QStringLiteral("/Program Data/settings.ini")),
             QByteArray("changed"));
}

void TestAppPath::fileModes_data()
{
    QTest::addColumn<int>("umask");
    QTest::addColumn<QString>("before"); // "nothing", "folder and book" or "portable"
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("bookMode"); // its journal's too
    QTest::addColumn<int>("reportMode");

    // The folder and the address book are the user's alone; what was there, or what the user
    // set in a portable folder, keeps its mode.
    QTest::newRow("first start, umask 022") << 022 << "nothing" << 0700 << 0600 << 0644;
    QTest::newRow("first start, umask 077") << 077 << "nothing" << 0700 << 0600 << 0600;
    QTest::newRow("folder and book there, umask 022")
        << 022 << "folder and book" << 0755 << 0644 << 0644;
    QTest::newRow("folder and book there, umask 077")
        << 077 << "folder and book" << 0755 << 0644 << 0600;
    QTest::newRow("portable, umask 022") << 022 << "portable" << 0775 << 0664 << 0664;
    QTest::newRow("portable, umask 077") << 077 << "portable" << 0775 << 0664 << 0664;
}

void TestAppPath::fileModes()
{
    QFETCH(int, umask);
    QFETCH(QString, before);
    QFETCH(int, folderMode);
    QFETCH(int, bookMode);
    QFETCH(int, reportMode);
    const QString root = m_dir->path();
    const files::AppFolderPlan plan{root + QStringLiteral("/home/.local/share/pelmora"),
                                    root + QStringLiteral("/prefix/share/pelmora"),
                                    root + QStringLiteral("/prefix/lib/pelmora"),
                                    before == QLatin1String("portable")};
    QVERIFY(writeTemplates(plan.templates));
    const QString templateBook = plan.templates + QStringLiteral("/cntdb.mdb");
    QVERIFY(QFile::remove(templateBook));
    QVERIFY(cntdb::createDatabase(templateBook).ok());
    QVERIFY(QFile::setPermissions(templateBook, QFileDevice::ReadOwner | QFileDevice::ReadGroup
                                                    | QFileDevice::ReadOther));
    const QString book = plan.folder + QStringLiteral("/cntdb.mdb");
    const QString report = plan.folder + QStringLiteral("/phonelist.rpt");
    if (before != QLatin1String("nothing")) {
        QVERIFY(QDir().mkpath(plan.folder));
        QVERIFY(QFile::copy(templateBook, book));
        QCOMPARE(::chmod(QFile::encodeName(book).constData(), mode_t(bookMode)), 0);
        QCOMPARE(::chmod(QFile::encodeName(plan.folder).constData(), mode_t(folderMode)), 0);
    }
    if (before == QLatin1String("portable")) {
        QVERIFY(writeFile(report, "the user's report"));
        QCOMPARE(::chmod(QFile::encodeName(report).constData(), mode_t(reportMode)), 0);
    }

    const mode_t oldMask = ::umask(mode_t(umask));
    const auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
    const Result<void> prepared = files::prepareAppFolder(plan);
    QVERIFY2(prepared.ok(), qPrintable(prepared.error()));

    QCOMPARE(fileMode(plan.folder), QString::number(folderMode, 8));
    QCOMPARE(fileMode(book), QString::number(bookMode, 8));
    QCOMPARE(journalModeOf(book), QString::number(bookMode, 8));
    QCOMPARE(fileMode(report), QString::number(reportMode, 8));
}

void TestAppPath::folderThatCannotBeMade_data()
{
    // What lies in the way, relative to the temporary folder; the folder the plan asks for.
    QTest::addColumn<QString>("fileInTheWay");
    QTest::addColumn<bool>("templatesThere");
    QTest::addColumn<QString>("named");
    QTest::addColumn<QString>("reason");

    QTest::newRow("templates missing") << "" << false << "prefix/share/pelmora"
                                       << "No such folder.";
    QTest::newRow("a file where the data home should be")
        << "home/.local/share" << true << "home/.local/share/pelmora"
        << "Not a directory";
    QTest::newRow("a file where the folder should be")
        << "home/.local/share/pelmora" << true << "home/.local/share/pelmora"
        << "Not a directory";
    QTest::newRow("a file where Program Data should be")
        << "home/.local/share/pelmora/Program Data" << true
        << "home/.local/share/pelmora/Program Data"
        << "Not a directory";
}

void TestAppPath::folderThatCannotBeMade()
{
    QFETCH(QString, fileInTheWay);
    QFETCH(bool, templatesThere);
    QFETCH(QString, named);
    QFETCH(QString, reason);
    const QString root = m_dir->path() + QLatin1Char('/');
    const files::AppFolderPlan plan{root + QStringLiteral("home/.local/share/pelmora"),
                                    root + QStringLiteral("prefix/share/pelmora"),
                                    root + QStringLiteral("prefix/lib/pelmora"), false};
    if (templatesThere)
        QVERIFY(writeTemplates(plan.templates));
    if (!fileInTheWay.isEmpty())
        QVERIFY(writeFile(root + fileInTheWay, "in the way"));

    const Result<void> prepared = files::prepareAppFolder(plan);
    QVERIFY(!prepared.ok());
    const QString message = prepared.error();
    QVERIFY2(message.contains(QStringLiteral("File: ") + root + named + QLatin1Char('\n')),
             qPrintable(message));
    QVERIFY2(message.endsWith(QStringLiteral("Reason: ") + reason), qPrintable(message));
}

void TestAppPath::deniedFolder_data()
{
    // The user's folder already there (owned by root, read-only to nobody) with these files.
    QTest::addColumn<bool>("folderThere");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("named");

    const QStringList all{"cntdb.mdb",
                          "phonelist.rpt",
                          "addresslist.rpt",
                          "emaillist.rpt",
                          "Program Data/settings.ini",
                          "Program Data/crystl32.ini",
                          "Program Data/ProgramInfo.txt"};
    QStringList allButSettings = all;
    allButSettings.removeAll(QStringLiteral("Program Data/settings.ini"));
    QTest::newRow("read-only HOME: the folder cannot be made")
        << false << QStringList{} << 1 << "home/.local/share/pelmora";
    QTest::newRow("read-only folder missing a file")
        << true << allButSettings << 1 << "home/.local/share/pelmora/Program Data/settings.ini";
    QTest::newRow("read-only folder with every file: nothing to copy") << true << all << 0 << "";
}

void TestAppPath::deniedFolder()
{
    if (!canDropPrivileges())
        QSKIP("needs root and setpriv to run the child as nobody");
    QFETCH(bool, folderThere);
    QFETCH(QStringList, present);
    QFETCH(int, exitCode);
    QFETCH(QString, named);
    const QString root = m_dir->path() + QLatin1Char('/');
    const Prefix prefix{root + QStringLiteral("prefix")};
    QVERIFY(prefix.make(QStringLiteral(APPFOLDERCHILD_PATH)));
    const QString home = root + QStringLiteral("home");
    QVERIFY(QDir().mkpath(home));
    const QString folder = home + QStringLiteral("/.local/share/pelmora");
    if (folderThere)
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/Program Data")));
    for (const QString &name : present)
        QVERIFY(writeFile(folder + QLatin1Char('/') + name, "root's"));
    openToEveryone(root);

    const ChildResult child
        = runWithHome(prefix.program(QStringLiteral(APPFOLDERCHILD_PATH)), {}, home, {}, true);
    QVERIFY(child.started);
    QCOMPARE(child.exitCode, exitCode);
    if (exitCode == 0) {
        QCOMPARE(child.output.split('\n').value(0), QFile::encodeName(folder));
        return;
    }
    const QString message = QString::fromLocal8Bit(child.errors);
    QVERIFY2(message.contains(QStringLiteral("File: ") + root + named + QLatin1Char('\n')),
             qPrintable(message));
    QVERIFY2(message.contains(QStringLiteral("Reason: ")) && message.contains("Permission denied"),
             qPrintable(message));
}

void TestAppPath::executableChoosesFolder_data()
{
    QTest::addColumn<bool>("portable");
    QTest::addColumn<QString>("xdgDataHome"); // relative to the temporary folder; "" unset
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("helpers");

    QTest::newRow("installed: ~/.local/share/pelmora") << false << ""
                                                       << "home/.local/share/pelmora"
                                                       << "prefix/lib/pelmora";
    QTest::newRow("installed with XDG_DATA_HOME") << false << "xdg"
                                                  << "xdg/pelmora"
                                                  << "prefix/lib/pelmora";
    QTest::newRow("portable: the executable's folder") << true << ""
                                                       << "prefix/bin"
                                                       << "prefix/bin";
}

void TestAppPath::executableChoosesFolder()
{
    QFETCH(bool, portable);
    QFETCH(QString, xdgDataHome);
    QFETCH(QString, folder);
    QFETCH(QString, helpers);
    const QString root = m_dir->path() + QLatin1Char('/');
    const Prefix prefix{root + QStringLiteral("prefix")};
    QVERIFY(prefix.make(QStringLiteral(APPFOLDERCHILD_PATH)));
    if (portable)
        QVERIFY(writeFile(prefix.bin() + QStringLiteral("/cntdb.mdb"), "portable book"));
    const QString home = root + QStringLiteral("home");
    QVERIFY(QDir().mkpath(home));

    const ChildResult child
        = runWithHome(prefix.program(QStringLiteral(APPFOLDERCHILD_PATH)), {}, home,
                      xdgDataHome.isEmpty() ? QString() : root + xdgDataHome);
    QVERIFY(child.started);
    QVERIFY2(child.exitCode == 0, child.errors.constData());
    QCOMPARE(QString::fromLocal8Bit(child.output),
             root + folder + QLatin1Char('\n') + root + helpers + QLatin1Char('\n'));
    // A portable folder is used as it stands: nothing is copied into it.
    for (const auto &[name, bytes] : templateFiles) {
        const QString path = root + folder + QLatin1Char('/') + name;
        QVERIFY2(QFileInfo::exists(path) == (!portable || name == QLatin1String("cntdb.mdb")),
                 qPrintable(path));
    }
    // A portable copy leaves the home folder alone.
    QCOMPARE(QFileInfo::exists(home + QStringLiteral("/.local")),
             !portable && xdgDataHome.isEmpty());
    QCOMPARE(readFile(prefix.bin() + QStringLiteral("/cntdb.mdb")),
             portable ? QByteArray("portable book") : QByteArray("<unreadable>"));
}

// The command-line tool's default address book is the one the program opens.
void TestAppPath::contactsToolDefaultDatabase()
{
    const QString root = m_dir->path() + QLatin1Char('/');
    const Prefix prefix{root + QStringLiteral("prefix")};
    QVERIFY(prefix.make(QStringLiteral(PELMORA_CONTACTS_PATH)));
    QFile::remove(prefix.templates() + QStringLiteral("/cntdb.mdb"));
    const Result<void> made
        = cntdb::createDatabase(prefix.templates() + QStringLiteral("/cntdb.mdb"));
    QVERIFY2(made.ok(), qPrintable(made.error()));
    const QString home = root + QStringLiteral("home");
    QVERIFY(QDir().mkpath(home));
    const QString card = root + QStringLiteral("card.vcf");
    QVERIFY(writeFile(card, "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Dunn;Al;;;\r\nFN:Al Dunn\r\n"
                            "END:VCARD\r\n"));
    const QString tool = prefix.program(QStringLiteral(PELMORA_CONTACTS_PATH));

    const ChildResult imported = runWithHome(tool, {QStringLiteral("import"), card}, home);
    QVERIFY2(imported.exitCode == 0, imported.errors.constData());
    const QString book = home + QStringLiteral("/.local/share/pelmora/cntdb.mdb");
    QVERIFY2(imported.errors.contains(QFile::encodeName(book)), imported.errors.constData());
    const ChildResult exported = runWithHome(
        tool, {QStringLiteral("export"), QStringLiteral("-"), QStringLiteral("--db"), book}, home);
    QVERIFY2(exported.exitCode == 0, exported.errors.constData());
    QVERIFY2(exported.output.contains("N:Dunn;Al"), exported.output.constData());
    // The template stays empty: the import went into the user's copy.
    const ChildResult fromTemplate
        = runWithHome(tool,
                      {QStringLiteral("export"), QStringLiteral("-"), QStringLiteral("--db"),
                       prefix.templates() + QStringLiteral("/cntdb.mdb")},
                      home);
    QCOMPARE(fromTemplate.exitCode, 0);
    QVERIFY(!fromTemplate.output.contains("Dunn"));
}

QTEST_GUILESS_MAIN(TestAppPath)
#include "tst_apppath.moc"
