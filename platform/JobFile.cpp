#include "platform/JobFile.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
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
    // In chunks, so a long write shows its progress and can be stopped.
    const TStopMark stop;
    BeginJobProgress(bytes.size());
    struct ProgressEnd {
        ~ProgressEnd() { EndJobProgress(); }
    } progressEnd;
    constexpr qint64 Chunk = 256 * 1024;
    if (IsStandardOutput(path)) {
        for (qint64 sent = 0; sent < bytes.size(); sent += Chunk) {
            if (stop.Stopped())
                ThrowJobStopped(sent, bytes.size());
            const auto n = static_cast<size_t>(std::min<qint64>(Chunk, bytes.size() - sent));
            if (std::fwrite(bytes.constData() + sent, 1, n, stdout) != n)
                CannotWrite(QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(errno)));
            AddJobProgress(static_cast<qint64>(n));
        }
        if (std::fflush(stdout) != 0)
            CannotWrite(QStringLiteral("standard output"), QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // Written under a temporary name: a stopped or failed job leaves no file.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        CannotWrite(path, file.errorString());
    for (qint64 sent = 0; sent < bytes.size(); sent += Chunk) {
        if (stop.Stopped()) {
            file.cancelWriting();
            ThrowJobStopped(sent, bytes.size());
        }
        const qint64 n = std::min<qint64>(Chunk, bytes.size() - sent);
        if (file.write(bytes.constData() + sent, n) != n)
            CannotWrite(path, file.errorString());
        AddJobProgress(n);
    }
    if (!file.commit())
        CannotWrite(path, file.errorString());
}
