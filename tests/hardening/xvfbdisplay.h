#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// A virtual X display of a test's own, and xdotool run against it.
class XvfbDisplay
{
public:
    struct Run
    {
        int exitCode = -1; // -1 also when the tool crashed or hung
        QByteArray output;
    };

    XvfbDisplay() = default;
    ~XvfbDisplay() { stop(); }
    XvfbDisplay(const XvfbDisplay &) = delete;
    XvfbDisplay &operator=(const XvfbDisplay &) = delete;

    // The name of a tool that is not installed, or an empty string.
    static QString missingTool();

    // Starts Xvfb on a free display; true once a client can connect to it.
    bool start();
    void stop();
    QByteArray name() const { return m_display; }

    Run xdotool(const QStringList &arguments) const;
    // Visible top-level windows whose title matches the regular expression, oldest first.
    QStringList visibleWindows(const QString &name) const;

private:
    bool startOnce();

    QProcess m_xvfb;
    QByteArray m_display;
};
