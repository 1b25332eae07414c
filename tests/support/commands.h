#pragma once

#include <gui/mainwindow/mainwindow.h>

#include <QMetaEnum>

// Runs the main window's command of this name ("Next", "Delete"), as its toolbar does; lets
// tests list commands in their data tables.
inline void runCommand(MainWindow &window, const QString &name)
{
    bool known = false;
    const int command = QMetaEnum::fromType<MainWindow::Command>().keyToValue(
        name.toLatin1().constData(), &known);
    if (!known)
        qFatal("no command named \"%s\"", qPrintable(name));
    window.runCommand(MainWindow::Command(command));
}
