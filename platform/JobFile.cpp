#include "platform/JobFile.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"

#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Little enough that a stop is taken soon, large enough to cost nothing.
constexpr qint64 Chunk = 256 * 1024;

bool IsStandardOutput(const QString& path)
{
    return path == QLatin1String("-");
}

QString SystemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

[[noreturn]] void CannotWrite(const QString& path, const QString& why)
{
    throw EFileError(QStringLiteral("Cannot write file \"") + path + QStringLiteral("\". ") + TrimSystemText(why));
}

// How the job reaches what the path names (its target, for a link).
enum class Target {
    NewFile, // absent: created under a temporary name, then renamed
    File,    // a regular file: replaced the same way, only when asked
    Stream,  // a pipe or a character device: written as it is, never renamed over
};

// Refuses what a job is never written to: a folder, a disk, a socket.
Target TargetOf(const QString& path, const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return Target::File;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return Target::Stream;
    if (S_ISDIR(st.st_mode))
        CannotWrite(path, QStringLiteral("It is a folder"));
    if (S_ISBLK(st.st_mode))
        CannotWrite(path, QStringLiteral("It is a block device (a disk or a partition): a job is never written "
                                         "over one"));
    CannotWrite(path, QStringLiteral("It is a socket, not a file or a pipe"));
}

Target LookUp(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) == 0)
        return TargetOf(path, st);
    if (errno != ENOENT)
        CannotWrite(path, SystemText(errno));
    return Target::NewFile;
}

// A stop is taken between writes, as for a file.
void WriteAll(int fd, const QString& path, const QByteArray& bytes, const TStopMark& stop)
{
    for (qsizetype done = 0; done < bytes.size();) {
        if (stop.Stopped()) {
            ::close(fd);
            ThrowJobStopped(done, bytes.size());
        }
        const ssize_t n =
            ::write(fd, bytes.constData() + done, static_cast<size_t>(std::min<qsizetype>(Chunk, bytes.size() - done)));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : EIO;
            ::close(fd);
            CannotWrite(path, SystemText(code));
        }
        done += n;
        AddJobProgress(n);
    }
}

// A pipe waits here for its reader, as it would for a shell's ">".
void WriteStream(const QString& path, const QByteArray& bytes, const TStopMark& stop)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        CannotWrite(path, SystemText(errno));
    // What was opened is judged, not what was looked at: never truncate or
    // append to a regular file that took the pipe's place.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        CannotWrite(path, QStringLiteral("It changed while the job was made"));
    }
    WriteAll(fd, path, bytes, stop);
    if (::close(fd) != 0 && errno != EINTR)
        CannotWrite(path, SystemText(errno));
}

} // namespace

void CheckJobFile(const QString& path, bool replace)
{
    if (IsStandardOutput(path))
        return;
    const Target target = LookUp(path);
    if (target == Target::Stream)
        return;
    if (target == Target::File && !replace)
        throw EFileError(QStringLiteral("The file \"") + path
                         + QStringLiteral("\" already exists; it is replaced only when you ask for that"));
    const QFileInfo folder(QFileInfo(path).absolutePath());
    if (!folder.isDir())
        CannotWrite(path, QStringLiteral("Its folder does not exist"));
    if (!folder.isWritable())
        CannotWrite(path, SystemText(EACCES));
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
    if (LookUp(path) == Target::Stream) {
        WriteStream(path, bytes, stop);
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
