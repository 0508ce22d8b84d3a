#pragma once

// File names as the system keeps them: bytes, most often but not always
// UTF-8. QFile::decodeName turns a byte that is not UTF-8 into U+FFFD, and
// the name then opens another file, or none. Here each such byte travels as
// a lone surrogate U+DC80..U+DCFF (valid UTF-8 never gives one), so a name
// from the command line reaches the file system exactly as it was typed.

#include <QByteArray>
#include <QString>

QString FileNameFromNative(const QByteArray& native);
// The bytes for a name made by FileNameFromNative, or any other name (as
// UTF-8, like QFile::encodeName).
QByteArray NativeFileName(const QString& name);
