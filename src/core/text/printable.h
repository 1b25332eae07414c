#pragma once

#include <QString>
#include <QStringView>

// Text from a file or a server as it may be shown on a terminal or in a message box: every
// control character (C0, DEL and C1) written as \xHH, so that a value cannot move the
// cursor, recolour the terminal or ring its bell. "\x1b[31mRed" is shown as "\x1b[31mRed".
QString printable(QStringView text);

// The same for a message of several lines: its line feeds stay.
QString printableLines(QStringView text);
