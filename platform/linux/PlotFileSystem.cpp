// Plot files on a POSIX file system: their full names, and their content read
// only from a regular file.

#include "platform/PlotFile.h"

#include "common/Exceptions.h"
#include "plot/PlotTextReader.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemErrorText(int error)
{
    return TrimSystemText(std::strerror(error));
}

// The path with "." parts dropped and ".." parts taken back, without asking
// the file system; ".." above the root stays, and so does a final "/".
std::string CleanPath(const std::string& path)
{
    std::vector<std::string> parts;
    for (std::string& part : Split(path, '/')) {
        if (part.empty() || part == ".")
            continue;
        if (part == ".." && !parts.empty() && parts.back() != "..")
            parts.pop_back();
        else
            parts.push_back(std::move(part));
    }
    std::string clean = path.starts_with('/') ? "/" + Join(parts, "/") : Join(parts, "/");
    if (clean.empty())
        clean = ".";
    if (path.size() > 1 && path.ends_with('/'))
        clean += '/';
    return clean;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : FFd(fd) {}
    ~FileDescriptor()
    {
        if (FFd >= 0)
            ::close(FFd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

private:
    int FFd;
};

} // namespace

std::string PlotFileFullPath(const std::string& FileName)
{
    if (FileName.empty() || FileName == "/")
        return FileName;
    std::string path;
    if (!FileName.starts_with('/')) {
        char folder[PATH_MAX];
        if (::getcwd(folder, sizeof folder))
            path = folder;
    }
    if (FileName != ".") {
        if (!path.empty() && !path.ends_with('/'))
            path += '/';
        path += FileName;
    }
    return CleanPath(path);
}

std::string LoadPlotFile(const std::string& FileName, const std::string& FullPath)
{
    const auto cannotOpen = [&](const std::string& reason) {
        return EFOpenError(Format("Cannot open file \"%1\". %2", FullPath, reason));
    };

    int fd;
    do {
        // O_NONBLOCK: opening a FIFO for reading must not wait for a writer.
        fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw cannotOpen(SystemErrorText(errno));
    const FileDescriptor file(fd);

    // Pipes, devices and directories could block forever or never end.
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        throw cannotOpen(SystemErrorText(errno));
    if (S_ISDIR(info.st_mode))
        throw cannotOpen("It is a directory, not a file");
    if (!S_ISREG(info.st_mode))
        throw cannotOpen("It is not a regular file (a device, pipe or socket)");

    const auto tooLarge = [&] {
        return EFileError(Format("The file \"%1\" is too large to be a plot file (the limit is %2 MiB)", FullPath,
                                 MaxPlotFileSize / (1024 * 1024)));
    };
    if (info.st_size > MaxPlotFileSize)
        throw tooLarge();

    try {
        // Room for one byte more than announced, so that reaching end of file
        // normally takes a single read; the file may still change under us.
        std::string content;
        content.resize(static_cast<std::size_t>(info.st_size) + 1);
        std::int64_t filled = 0;
        for (;;) {
            if (filled == static_cast<std::int64_t>(content.size())) {
                if (filled > MaxPlotFileSize)
                    throw tooLarge();
                content.resize(
                    static_cast<std::size_t>(std::min<std::int64_t>(filled * 2 + 4096, MaxPlotFileSize + 1)));
            }
            const ssize_t got = ::read(fd, content.data() + filled, content.size() - static_cast<std::size_t>(filled));
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw EFileError(Format("Cannot read file \"%1\". %2", FullPath, SystemErrorText(errno)));
            }
            if (got == 0)
                break;
            filled += got;
        }
        content.resize(static_cast<std::size_t>(filled));
        return content;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Out of memory while reading the file \"%1\"", FullPath));
    }
}
