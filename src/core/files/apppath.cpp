#include <core/files/apppath.h>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <sys/stat.h>

// Set by the build from the install rules, relative to the folder of the executables.
#ifndef PELMORA_TEMPLATES_FROM_BIN
#error "PELMORA_TEMPLATES_FROM_BIN must name the templates relative to the executable"
#endif
#ifndef PELMORA_HELPERS_FROM_BIN
#error "PELMORA_HELPERS_FROM_BIN must name the helper programs relative to the executable"
#endif

namespace files {

namespace {

QString &overriddenAppPath()
{
    static QString path;
    return path;
}

QString &openedAppPath()
{
    static QString path;
    return path;
}

QString executableDir()
{
    static const QString path = QDir::cleanPath(QCoreApplication::applicationDirPath());
    return path;
}

const QString databaseName = QStringLiteral("cntdb.mdb");

// The user's folder holds their address book: no one else may look into it.
constexpr mode_t privateFolderMode = 0700;

// Makes folder's missing parents as the umask says and folder itself with mode. A folder
// already there keeps its own. std::filesystem rather than QDir::mkpath: it says why a
// folder could not be made.
Result<void> makeFolder(const QString &folder, mode_t mode = 0777)
{
    const std::filesystem::path path(QFile::encodeName(folder).toStdString());
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    if (!error && ::mkdir(path.c_str(), mode) != 0 && errno != EEXIST)
        error.assign(errno, std::generic_category());
    // Something already there: a folder serves, anything else is named below.
    if (!error)
        std::filesystem::create_directories(path, error);
    if (error) {
        return Failure{fileProblem(QStringLiteral("Pelmora cannot make its folder for the address "
                                                  "book and settings."),
                                   folder, QString::fromLocal8Bit(error.message()))};
    }
    return {};
}

// Copies one template. NewOnly makes "never overwrite" hold even against a file that
// appeared since the check; a copy cut short is removed so the next start copies it again.
// The copy is the user's to change whatever the template's mode: the address book is theirs
// alone, other files are made as the umask says.
Result<void> copyNew(const QString &source, const QString &target)
{
    const QString what = QStringLiteral("Pelmora cannot copy a first file into its folder.");
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return Failure{fileProblem(what, source, in.errorString())};
    QFile out(target);
    const bool addressBook = QFileInfo(target).fileName() == databaseName;
    const QFileDevice::Permissions mode
        = addressBook
              ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
              : QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                    | QFileDevice::WriteGroup | QFileDevice::ReadOther | QFileDevice::WriteOther;
    if (!out.open(QIODevice::WriteOnly | QIODevice::NewOnly, mode)) {
        if (out.error() == QFileDevice::OpenError && QFileInfo::exists(target))
            return {};
        return Failure{fileProblem(what, target, out.errorString())};
    }
    const QByteArray data = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        out.remove();
        return Failure{fileProblem(what, source, in.errorString())};
    }
    if (out.write(data) != data.size() || !out.flush()) {
        const QString reason = out.errorString();
        out.remove();
        return Failure{fileProblem(what, target, reason)};
    }
    out.close();
    return {};
}

} // namespace

QString appPath()
{
    if (!overriddenAppPath().isEmpty())
        return overriddenAppPath();
    if (!openedAppPath().isEmpty())
        return openedAppPath();
    return executableDir();
}

QString dataDir()
{
    return appFile(QStringLiteral("Program Data"));
}

QString appFile(const QString &relativePath)
{
    return appPath() + QLatin1Char('/') + relativePath;
}

void setAppPathForTesting(const QString &path)
{
    overriddenAppPath() = path.isEmpty() ? QString() : QDir::cleanPath(path);
}

AppFolderPlan planAppFolder(const QString &executableDir, const QString &dataHome)
{
    const QString exe = QDir::cleanPath(executableDir);
    const auto fromBin = [&exe](const char *relative) {
        return QDir::cleanPath(exe + QLatin1Char('/') + QLatin1String(relative));
    };
    const QString templates = fromBin(PELMORA_TEMPLATES_FROM_BIN);
    // A portable folder whose address book is gone is still portable: opening the address
    // book then names the missing file, instead of the user's folder being filled afresh.
    const bool portable = QFileInfo(exe + QLatin1Char('/') + databaseName).isFile()
                          || QFileInfo(exe + QStringLiteral("/Program Data")).isDir()
                          || !QFileInfo(templates).isDir();
    if (portable)
        return {exe, {}, exe, true};
    return {QDir::cleanPath(dataHome + QStringLiteral("/pelmora")), templates,
            fromBin(PELMORA_HELPERS_FROM_BIN), false};
}

QString userDataHome()
{
    // A relative XDG_DATA_HOME is invalid and is ignored, as the desktops do.
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return QDir::cleanPath(xdg);
    return QDir::cleanPath(QDir::homePath() + QStringLiteral("/.local/share"));
}

Result<void> prepareAppFolder(const AppFolderPlan &plan)
{
    if (plan.portable)
        return {};
    if (!QFileInfo(plan.templates).isDir()) {
        return Failure{fileProblem(
            QStringLiteral("Pelmora cannot fill its folder for the address book and settings, %1: "
                           "the installed templates are missing.")
                .arg(plan.folder),
            plan.templates, QStringLiteral("No such folder."))};
    }
    if (Result<void> made = makeFolder(plan.folder, privateFolderMode); !made)
        return made;
    const QDir templates(plan.templates);
    QDirIterator it(plan.templates, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString target = plan.folder + QLatin1Char('/') + templates.relativeFilePath(source);
        const Result<void> done
            = it.fileInfo().isDir()
                  ? makeFolder(target)
                  : (QFileInfo::exists(target) ? Result<void>() : copyNew(source, target));
        if (!done)
            return done;
    }
    return {};
}

Result<QString> openAppFolder()
{
    if (!overriddenAppPath().isEmpty())
        return overriddenAppPath();
    const AppFolderPlan plan = planAppFolder(executableDir(), userDataHome());
    if (Result<void> prepared = prepareAppFolder(plan); !prepared)
        return prepared.failure();
    openedAppPath() = plan.folder;
    return plan.folder;
}

QString helperDir()
{
    return planAppFolder(executableDir(), userDataHome()).helpers;
}

} // namespace files
