#pragma once

#include <QByteArray>
#include <QString>

namespace files {

// Text files are 8-bit text in the system code page, UTF-8 here. Where the bytes are not
// valid UTF-8 they are read as Latin-1, byte for byte, so nothing is ever dropped.
QString decodeText(const QByteArray &bytes);

} // namespace files
