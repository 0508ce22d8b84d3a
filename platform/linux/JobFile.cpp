#include "platform/JobFile.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Little enough that a stop is taken soon, large enough to cost nothing.
constexpr std::int64_t Chunk = 256 * 1024;

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

bool IsStandardOutput(const std::string& path)
{
    return path == "-";
}

std::string SystemText(int code)
{
    return std::strerror(code);
}

// The folder part of a path, as the system resolves a relative name: "." for
// a bare name, "/" for a name at the root.
std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void AlreadyExists(const std::string& path)
{
    throw EFileError("The file \"" + Quoted(path) + "\" already exists; it is replaced only when you ask for that");
}

[[noreturn]] void CannotWrite(const std::string& path, const std::string& why)
{
    throw EFileError("Cannot write file \"" + Quoted(path) + "\". " + TrimSystemText(why));
}

// How the job reaches what the path names (its target, for a link).
enum class Target {
    NewFile, // absent: created under a temporary name, then renamed
    File,    // a regular file: replaced the same way, only when asked
    Stream,  // a pipe or a character device: written as it is, never renamed over
};

// Refuses what a job is never written to: a folder, a disk, a socket.
Target TargetOf(const std::string& path, const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return Target::File;
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))
        return Target::Stream;
    if (S_ISDIR(st.st_mode))
        CannotWrite(path, "It is a folder");
    if (S_ISBLK(st.st_mode))
        CannotWrite(path, "It is a block device (a disk or a partition): a job is never written "
                          "over one");
    CannotWrite(path, "It is a socket, not a file or a pipe");
}

Target LookUp(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0)
        return TargetOf(path, st);
    if (errno != ENOENT)
        CannotWrite(path, SystemText(errno));
    return Target::NewFile;
}

// In chunks, so a long write shows its progress and takes a stop between
// writes.
void WriteAll(int fd, const std::string& path, std::string_view bytes, const TStopMark& stop)
{
    const auto size = static_cast<std::int64_t>(bytes.size());
    for (std::int64_t done = 0; done < size;) {
        if (stop.Stopped()) {
            ::close(fd);
            ThrowJobStopped(done, size);
        }
        const ssize_t n =
            ::write(fd, bytes.data() + done, static_cast<size_t>(std::min<std::int64_t>(Chunk, size - done)));
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
void WriteStream(const std::string& path, std::string_view bytes, const TStopMark& stop)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        CannotWrite(path, SystemText(errno));
    // What was opened is judged, not what was looked at: never truncate or
    // append to a regular file that took the pipe's place.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        CannotWrite(path, "It changed while the job was made");
    }
    WriteAll(fd, path, bytes, stop);
    if (::close(fd) != 0 && errno != EINTR)
        CannotWrite(path, SystemText(errno));
}

// The file a link leads to is the one written, as an editor saving would.
// Asked of the system by the name's own bytes, which need not be UTF-8.
std::string FinalName(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    if (char* target = ::realpath(path.c_str(), nullptr)) {
        const std::string resolved(target);
        std::free(target);
        return resolved;
    }
    // A dangling link: the file is made where it points.
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0)
        return path;
    target.resize(static_cast<std::size_t>(n));
    return target.starts_with('/') ? target : FolderOf(path) + '/' + target;
}

// Eight hex digits that make a temporary name unlikely to be taken.
std::string RandomSuffix()
{
    static std::mutex mutex;
    static std::mt19937 generator{std::random_device{}()};
    std::lock_guard lock(mutex);
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(generator()));
    return text;
}

// The whole job goes to a new file beside the target, then takes the
// target's name in one step: without replace, a file that appeared since
// the check is kept (rename without replacing, or link where the file
// system has no such rename), and reported like any existing one.
void WriteRegularFile(const std::string& path, bool replace, std::string_view bytes, const TStopMark& stop)
{
    const std::string finalName = FinalName(path);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = FolderOf(finalName) + "/." + finalName.substr(finalName.rfind('/') + 1) + "." + RandomSuffix();
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            CannotWrite(path, SystemText(errno));
    }
    if (fd < 0)
        CannotWrite(path, SystemText(EEXIST));
    struct Cleanup {
        const std::string& Name;
        bool Keep = false;
        ~Cleanup()
        {
            TemporaryNamed = false;
            if (!Keep)
                ::unlink(Name.c_str());
        }
    } cleanup{temporary};
    if (static_cast<std::size_t>(temporary.size()) < sizeof TemporaryName) {
        std::memcpy(TemporaryName, temporary.c_str(), static_cast<std::size_t>(temporary.size()) + 1);
        TemporaryNamed = true;
    }
    // A replaced file keeps who may read it.
    struct stat old {};
    if (replace && ::stat(finalName.c_str(), &old) == 0 && S_ISREG(old.st_mode))
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
        if (::stat(finalName.c_str(), &now) == 0 && !S_ISREG(now.st_mode)) {
            TargetOf(path, now); // a folder, a disk or a socket says what it is
            CannotWrite(path, "It changed while the job was made");
        }
        if (::rename(temporary.c_str(), finalName.c_str()) != 0)
            CannotWrite(path, SystemText(errno));
    } else if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, finalName.c_str(), RENAME_NOREPLACE) != 0) {
        if (errno == EEXIST)
            AlreadyExists(path);
        if (errno != EINVAL && errno != ENOSYS)
            CannotWrite(path, SystemText(errno));
        if (::link(temporary.c_str(), finalName.c_str()) != 0) {
            if (errno == EEXIST)
                AlreadyExists(path);
            CannotWrite(path, SystemText(errno));
        }
        ::unlink(temporary.c_str());
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

void CheckJobFile(const std::string& path, bool replace)
{
    if (IsStandardOutput(path))
        return;
    const Target target = LookUp(path);
    if (target == Target::Stream)
        return;
    if (target == Target::File && !replace)
        AlreadyExists(path);
    const std::string folder = FolderOf(path);
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        CannotWrite(path, "Its folder does not exist");
    if (::access(folder.c_str(), W_OK) != 0)
        CannotWrite(path, SystemText(EACCES));
}

void WriteJobFile(const std::string& path, bool replace, std::string_view bytes)
{
    CheckJobFile(path, replace);
    const TStopMark stop;
    const auto size = static_cast<std::int64_t>(bytes.size());
    BeginJobProgress(size);
    struct ProgressEnd {
        ~ProgressEnd() { EndJobProgress(); }
    } progressEnd;
    if (IsStandardOutput(path)) {
        for (std::int64_t sent = 0; sent < size; sent += Chunk) {
            if (stop.Stopped())
                ThrowJobStopped(sent, size);
            const auto n = static_cast<size_t>(std::min<std::int64_t>(Chunk, size - sent));
            if (std::fwrite(bytes.data() + sent, 1, n, stdout) != n)
                CannotWrite("standard output", SystemText(errno));
            AddJobProgress(static_cast<std::int64_t>(n));
        }
        if (std::fflush(stdout) != 0)
            CannotWrite("standard output", SystemText(errno));
        return;
    }
    if (LookUp(path) == Target::Stream) {
        WriteStream(path, bytes, stop);
        return;
    }
    WriteRegularFile(path, replace, bytes, stop);
}
