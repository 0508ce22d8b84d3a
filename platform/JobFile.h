#pragma once

// A finished job written to a file instead of a device: for cutters that
// read a USB stick, and for checking a job before cutting.

#include <QByteArray>
#include <QString>

// "-" is standard output. Throws EFileError when the file exists and
// replace is false, or when it cannot be written; nothing is left behind
// then, since the bytes go to a temporary name that is renamed at the end.
void CheckJobFile(const QString& path, bool replace);
void WriteJobFile(const QString& path, bool replace, const QByteArray& bytes);
