#include "xvfbdisplay.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

QString XvfbDisplay::missingTool()
{
    for (const char *tool : {"Xvfb", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            return QString::fromLatin1(tool);
    }
    return {};
}

bool XvfbDisplay::start()
{
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (startOnce())
            return true;
        qInfo("Xvfb attempt %d: display %s did not accept a client", attempt,
              m_display.constData());
        stop();
    }
    return false;
}

bool XvfbDisplay::startOnce()
{
    // Xvfb picks a free display number itself and tells it on the given descriptor, so
    // tests running side by side never clash. -noreset: by default the server resets each
    // time its last client leaves (each xdotool call), and a program connecting during a
    // reset is refused. The server counts as started only once a client gets in.
    m_display.clear();
    m_xvfb.start(QStringLiteral("Xvfb"),
                 {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                  QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                  QStringLiteral("tcp"), QStringLiteral("-noreset")});
    if (!m_xvfb.waitForStarted())
        return false;
    QDeadlineTimer deadline(20000);
    while (!m_display.contains('\n') && !deadline.hasExpired()
           && m_xvfb.state() == QProcess::Running) {
        m_xvfb.waitForReadyRead(200);
        m_display += m_xvfb.readAllStandardOutput();
    }
    if (!m_display.contains('\n'))
        return false;
    m_display = ":" + m_display.trimmed();
    while (!deadline.hasExpired() && m_xvfb.state() == QProcess::Running) {
        if (xdotool({QStringLiteral("getdisplaygeometry")}).exitCode == 0)
            return true;
        QTest::qWait(200);
    }
    return false;
}

void XvfbDisplay::stop()
{
    if (m_xvfb.state() == QProcess::Running) {
        m_xvfb.terminate();
        if (!m_xvfb.waitForFinished(5000))
            m_xvfb.kill();
        m_xvfb.waitForFinished();
    }
}

XvfbDisplay::Run XvfbDisplay::xdotool(const QStringList &arguments) const
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_display));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAll()};
}

QStringList XvfbDisplay::visibleWindows(const QString &name) const
{
    const Run found = xdotool({QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                               QStringLiteral("--name"), name});
    return QString::fromLatin1(found.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
