#include "platform/JobFile.h"

#include "common/Exceptions.h"

#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool IsStandardOutput(const QString& path)
{
    return path == QLatin1String("-");
}

[[noreturn]] void CannotWrite(const QString& path, const QString& why)
{
    throw EFileError(QStringLiteral("Cannot write file \"") + path + QStringLiteral("\". ") + TrimSystemText(why));
}

} // namespace

void CheckJobFile(const QString& path, bool replace)
{
    if (IsStandardOutput(path))
        return;
    const QFileInfo info(path);
    if (info.exists() && !replace)
        throw EFileError(QStringLiteral("The file \"") + path
                         + QStringLiteral("\" already exists; it is replaced only when you ask for that"));
    if (info.isDir())
        CannotWrite(path, QStringLiteral("It is a folder"));
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        CannotWrite(path, QStringLiteral("Its folder does not exist"));
    if (!folder.isWritable())
        CannotWrite(path, QString::fromLocal8Bit(std::strerror(EACCES)));
}

void WriteJobFile(const QString& path, bool replace, const QByteArray& bytes)
{
    CheckJobFile(path, replace);
    if (IsStandardOutput(path)) {
        if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout)
                != static_cast<size_t>(bytes.size())
            || std::fflush(stdout) != 0)
            CannotWrite(QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        CannotWrite(path, file.errorString());
    if (file.write(bytes) != bytes.size())
        CannotWrite(path, file.errorString());
    if (!file.commit())
        CannotWrite(path, file.errorString());
}
