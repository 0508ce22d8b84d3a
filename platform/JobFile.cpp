#include "platform/JobFile.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"
#include "platform/NativeFileName.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Little enough that a stop is taken soon, large enough to cost nothing.
constexpr qint64 Chunk = 256 * 1024;

std::function<void()>& BeforeCommit()
{
    static std::function<void()> hook;
    return hook;
}

// The temporary file being written, where a signal handler can find it:
// a fixed buffer, and a flag that says whether it holds a name.
char TemporaryName[PATH_MAX + 16];
std::atomic<bool> TemporaryNamed{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read in a signal handler");

bool IsStandardOutput(const QString& path)
{
    return path == QLatin1String("-");
}

QString SystemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

[[noreturn]] void AlreadyExists(const QString& path)
{
    throw EFileError(QStringLiteral("The file \"") + Quoted(path)
                     + QStringLiteral("\" already exists; it is replaced only when you ask for that"));
}

[[noreturn]] void CannotWrite(const QString& path, const QString& why)
{
    throw EFileError(QStringLiteral("Cannot write file \"") + Quoted(path) + QStringLiteral("\". ")
                     + TrimSystemText(why));
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
    if (::stat(NativeFileName(path).constData(), &st) == 0)
        return TargetOf(path, st);
    if (errno != ENOENT)
        CannotWrite(path, SystemText(errno));
    return Target::NewFile;
}

// In chunks, so a long write shows its progress and takes a stop between
// writes.
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
    const int fd = ::open(NativeFileName(path).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
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

// The file a link leads to is the one written, as an editor saving would.
// Asked of the system by the name's own bytes, which need not be UTF-8.
QString FinalName(const QString& path)
{
    const QByteArray native = NativeFileName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    if (char* target = ::realpath(native.constData(), nullptr)) {
        const QString resolved = FileNameFromNative(QByteArray(target));
        std::free(target);
        return resolved;
    }
    // A dangling link: the file is made where it points.
    QByteArray target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(native.constData(), target.data(), static_cast<size_t>(target.size()));
    if (n <= 0)
        return path;
    target.truncate(n);
    const QString name = FileNameFromNative(target);
    return name.startsWith(QLatin1Char('/')) ? name : QFileInfo(path).path() + QLatin1Char('/') + name;
}

// The whole job goes to a new file beside the target, then takes the
// target's name in one step: without replace, a file that appeared since
// the check is kept (rename without replacing, or link where the file
// system has no such rename), and reported like any existing one.
void WriteRegularFile(const QString& path, bool replace, const QByteArray& bytes, const TStopMark& stop)
{
    const QString final = FinalName(path);
    const QFileInfo info(final);
    const QByteArray finalName = NativeFileName(final);
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = NativeFileName(
            info.path() + QStringLiteral("/.") + info.fileName()
            + QStringLiteral(".%1").arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0')));
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            CannotWrite(path, SystemText(errno));
    }
    if (fd < 0)
        CannotWrite(path, SystemText(EEXIST));
    struct Cleanup {
        const QByteArray& Name;
        bool Keep = false;
        ~Cleanup()
        {
            TemporaryNamed = false;
            if (!Keep)
                ::unlink(Name.constData());
        }
    } cleanup{temporary};
    if (static_cast<std::size_t>(temporary.size()) < sizeof TemporaryName) {
        std::memcpy(TemporaryName, temporary.constData(), static_cast<std::size_t>(temporary.size()) + 1);
        TemporaryNamed = true;
    }
    // A replaced file keeps who may read it.
    struct stat old {};
    if (replace && ::stat(finalName.constData(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd, old.st_mode & 07777);
    // A stopped job leaves no file: the temporary one goes.
    WriteAll(fd, path, bytes, stop);
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        CannotWrite(path, SystemText(errno));
    if (BeforeCommit())
        BeforeCommit()();
    if (replace) {
        // Still only a file is replaced: a node that took its place stays.
        struct stat now {};
        if (::stat(finalName.constData(), &now) == 0 && !S_ISREG(now.st_mode)) {
            TargetOf(path, now); // a folder, a disk or a socket says what it is
            CannotWrite(path, QStringLiteral("It changed while the job was made"));
        }
        if (::rename(temporary.constData(), finalName.constData()) != 0)
            CannotWrite(path, SystemText(errno));
    } else if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, finalName.constData(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            AlreadyExists(path);
        if (errno != EINVAL && errno != ENOSYS)
            CannotWrite(path, SystemText(errno));
        if (::link(temporary.constData(), finalName.constData()) != 0) {
            if (errno == EEXIST)
                AlreadyExists(path);
            CannotWrite(path, SystemText(errno));
        }
        ::unlink(temporary.constData());
    }
    cleanup.Keep = true;
}

} // namespace

void RemoveJobTemporaryFile() noexcept
{
    if (TemporaryNamed.exchange(false))
        ::unlink(TemporaryName);
}

void SetJobFileCommitHook(std::function<void()> hook)
{
    BeforeCommit() = std::move(hook);
}

void CheckJobFile(const QString& path, bool replace)
{
    if (IsStandardOutput(path))
        return;
    const Target target = LookUp(path);
    if (target == Target::Stream)
        return;
    if (target == Target::File && !replace)
        AlreadyExists(path);
    const QByteArray folder = NativeFileName(QFileInfo(path).path());
    struct stat st {};
    if (::stat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        CannotWrite(path, QStringLiteral("Its folder does not exist"));
    if (::access(folder.constData(), W_OK) != 0)
        CannotWrite(path, SystemText(EACCES));
}

void WriteJobFile(const QString& path, bool replace, const QByteArray& bytes)
{
    CheckJobFile(path, replace);
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
                CannotWrite(QStringLiteral("standard output"), SystemText(errno));
            AddJobProgress(static_cast<qint64>(n));
        }
        if (std::fflush(stdout) != 0)
            CannotWrite(QStringLiteral("standard output"), SystemText(errno));
        return;
    }
    if (LookUp(path) == Target::Stream) {
        WriteStream(path, bytes, stop);
        return;
    }
    WriteRegularFile(path, replace, bytes, stop);
}
