// The settings file on a POSIX file system: read only when it is a regular
// file of sensible size, written again under a lock through a file renamed
// over it.

#include "platform/SettingsFile.h"

#include "common/Exceptions.h"
#include "platform/DeviceSettingsStore.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemText(int code)
{
    return std::strerror(code);
}

// What keeps the file at path from serving as the settings file, as the end
// of a sentence that begins with its name; empty when nothing does. Only a
// regular file is opened: a pipe put in its place would block, a device
// could answer without end. An absent file is no problem: nothing is kept.
std::string FileProblem(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int code = errno;
        return code == ENOENT ? std::string() : Format("cannot be read (%1)", SystemText(code));
    }
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    if (info.st_size > MaxSettingsFileBytes)
        return Format("is %1 MB, too large to be a settings file",
                      FixedNumber(static_cast<double>(info.st_size) / (1 << 20), 1));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return Format("cannot be read (%1)", SystemText(errno));
    ::close(fd);
    return {};
}

// The whole file, which FileProblem passed; 0 or the error that stopped it.
int ReadWhole(const std::string& path, std::string& contents)
{
    contents.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;
    struct stat info {};
    int code = 0;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxSettingsFileBytes) {
        char buffer[16384];
        for (;;) {
            const ssize_t got = ::read(fd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                code = errno;
            if (got <= 0)
                break;
            contents.append(buffer, static_cast<std::size_t>(got));
            if (contents.size() > static_cast<std::size_t>(MaxSettingsFileBytes)) {
                code = EFBIG;
                break;
            }
        }
    } else {
        code = EIO; // replaced since it was checked: not ours to guess at
    }
    ::close(fd);
    return code;
}

[[noreturn]] void NotSaved(const std::string& why)
{
    throw EFileError("The settings were not saved: " + why);
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

// Makes the folder and those above it; 0 or the error.
int MakeFolder(const std::string& folder)
{
    struct stat info {};
    if (::stat(folder.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    if (const std::size_t slash = folder.rfind('/'); slash != std::string::npos && slash > 0)
        if (const int code = MakeFolder(folder.substr(0, slash)))
            return code;
    return ::mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST ? 0 : errno;
}

// Held while the settings file is read and written again: a save running
// at the same time waits for it, so neither writes over the other's device.
class TSettingsLock {
public:
    explicit TSettingsLock(const std::string& folder)
    {
        const std::string name = folder + "/vellico-output-test.lock";
        FFd = ::open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (FFd < 0) {
            const int code = errno;
            NotSaved(Format("the folder \"%1\" cannot be written: %2", folder, SystemText(code)));
        }
        // A save takes milliseconds; a lock held far longer is another
        // program's, and waiting on it would hang the save.
        for (int waited = 0; ::flock(FFd, LOCK_EX | LOCK_NB) != 0; waited += 10) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= 5000) {
                ::close(FFd);
                NotSaved(Format("another program keeps \"%1\" locked", name));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    ~TSettingsLock() { ::close(FFd); }
    TSettingsLock(const TSettingsLock&) = delete;
    TSettingsLock& operator=(const TSettingsLock&) = delete;

private:
    int FFd = -1;
};

// The target of a link, else the path itself.
std::string LinkTarget(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    std::string target(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0)
        return path;
    target.resize(static_cast<std::size_t>(n));
    return target.front() == '/' ? target : FolderOf(path) + '/' + target;
}

// The settings file's new contents, in a file of its own beside the one it
// replaces (the target of a link), renamed over it once whole. Removed
// unless it takes the old one's place.
class TNewSettingsFile {
public:
    // Writes the contents, and checks that the disk takes room more.
    TNewSettingsFile(const std::string& path, const std::string& contents, std::size_t room)
        : FPath(path), FTarget(LinkTarget(path))
    {
        struct stat old {};
        const bool replacing = ::stat(FTarget.c_str(), &old) == 0;
        // A file made read-only is not replaced behind its owner's back.
        if (replacing && ::access(FTarget.c_str(), W_OK) != 0)
            Fail(errno);
        static std::mutex naming;
        static std::mt19937 random{std::random_device{}()};
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 100; ++tries) {
            char name[16];
            {
                std::lock_guard lock(naming);
                std::snprintf(name, sizeof name, "%08x", static_cast<unsigned>(random()));
            }
            FNew = FolderOf(FTarget) + "/.vellico-output-test." + name;
            fd = ::open(FNew.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            const int code = errno;
            FNew.clear();
            Fail(code);
        }
        int code = 0;
        if (replacing) {
            (void)!::fchown(fd, old.st_uid, old.st_gid);
            if (::fchmod(fd, old.st_mode & 07777) != 0)
                code = errno;
        }
        // A write cut short is followed by one that says why.
        const std::string spare(room, '\n');
        for (const std::string* part : {&contents, &spare}) {
            for (std::size_t done = 0; code == 0 && done < part->size();) {
                const ssize_t n = ::write(fd, part->data() + done, part->size() - done);
                if (n < 0 && errno != EINTR)
                    code = errno;
                done += static_cast<std::size_t>(std::max<ssize_t>(n, 0));
            }
        }
        if (code == 0 && (::fsync(fd) != 0 || ::ftruncate(fd, static_cast<off_t>(contents.size())) != 0))
            code = errno;
        ::close(fd);
        if (code != 0) {
            ::unlink(FNew.c_str());
            FNew.clear();
            Fail(code);
        }
    }
    ~TNewSettingsFile()
    {
        if (!FNew.empty())
            ::unlink(FNew.c_str());
    }
    TNewSettingsFile(const TNewSettingsFile&) = delete;
    TNewSettingsFile& operator=(const TNewSettingsFile&) = delete;

    const std::string& Path() const { return FNew; }

    // Takes the old file's place.
    void Replace()
    {
        if (::rename(FNew.c_str(), FTarget.c_str()) != 0)
            Fail(errno);
        FNew.clear();
    }

    [[noreturn]] void Fail(int code) const
    {
        const std::string why = SystemText(code);
        if (FTarget == FPath)
            NotSaved(Format("the settings file \"%1\" cannot be written: %2", FPath, why));
        NotSaved(Format("the settings file \"%1\" links to \"%2\", which cannot be written: %3", FPath, FTarget, why));
    }

private:
    std::string FPath, FTarget, FNew;
};

} // namespace

// The user's configuration folder as desktops name it: XDG_CONFIG_HOME, else
// .config in the home folder. Only this file is read, never organisation-wide
// or system ones, and only once it is known to be a file.
std::string SettingsFilePath()
{
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) {
        folder = config;
    } else {
        const char* home = std::getenv("HOME");
        std::string base = home && *home ? home : "/";
        while (base.size() > 1 && base.ends_with('/'))
            base.pop_back();
        folder = base + "/.config";
    }
    return folder + "/Vellico/vellico-output-test.conf";
}

std::string ReadSettingsText(const std::string& path, std::string& problem)
{
    problem = FileProblem(path);
    std::string text;
    if (problem.empty())
        if (const int code = ReadWhole(path, text))
            problem = Format("cannot be read (%1)", SystemText(code));
    return problem.empty() ? text : std::string();
}

void RewriteSettingsText(const std::string& path, const std::function<std::string(const std::string& old)>& change,
                         std::size_t room)
{
    const std::string folder = FolderOf(path);
    if (const int code = MakeFolder(folder))
        NotSaved(Format("the folder \"%1\" cannot be made: %2", folder, SystemText(code)));
    // One writer at a time in this process too: the lock is per open file.
    static std::mutex writing;
    std::lock_guard inProcess(writing);
    const TSettingsLock lock(folder);
    // Read under the lock, so the file written keeps every other entry.
    if (const std::string problem = FileProblem(path); !problem.empty())
        NotSaved(Format("the settings file \"%1\" %2", path, problem));
    std::string old;
    if (const int code = ReadWhole(path, old))
        NotSaved(Format("the settings file \"%1\" cannot be read: %2", path, SystemText(code)));
    const std::string text = change(old);
    TNewSettingsFile file(path, text, room);
    // Read back: all of it, or the old file stays.
    std::string check;
    if (const int code = ReadWhole(file.Path(), check); code != 0 || check != text)
        file.Fail(code != 0 ? code : EIO);
    file.Replace();
}
