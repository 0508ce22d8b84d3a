#include "platform/cups/UserDefault.h"

#include "common/Exceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vcups {
namespace {

std::string WithoutInstance(const std::string& name)
{
    return Trimmed(std::string_view(name).substr(0, name.find('/')));
}

// Bytes without ASCII white space at either end.
std::string_view TrimmedBytes(std::string_view text)
{
    const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n\v\f\r") + 1 - first);
}

// The value of an environment variable as text; nullopt when it is not set.
std::optional<std::string> Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(ValidUtf8(value, true)) : std::nullopt;
}

// The start of an lpoptions file; empty for anything but a regular file.
// Opened without blocking, so a pipe put in its place cannot hold us.
std::string ReadOptionsFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        return {};
    std::string text;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        // A settings file is small; anything larger is not one.
        text.resize(static_cast<std::size_t>(std::min<off_t>(info.st_size, 1 << 20)));
        std::size_t filled = 0;
        while (filled < text.size()) {
            const ssize_t got = ::read(fd, text.data() + filled, static_cast<size_t>(text.size() - filled));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            filled += got;
        }
        text.resize(filled);
    }
    ::close(fd);
    return text;
}

// The destination of an lpoptions file's "Default" line, as written; the
// last one wins, as lpoptions -d rewrites it.
std::optional<std::string> DefaultFromOptions(const std::string& path)
{
    std::optional<std::string> found;
    for (const std::string& raw : Split(ReadOptionsFile(path), '\n')) {
        const std::string_view line = TrimmedBytes(raw);
        if (!line.starts_with("Default ") && !line.starts_with("Default\t"))
            continue;
        const std::string_view rest = TrimmedBytes(line.substr(8));
        found = ValidUtf8(rest.substr(0, rest.find(' ')), true);
    }
    return found;
}

std::string OriginText(const UserDefault& chosen)
{
    if (chosen.Origin.starts_with('/'))
        return "the Default line of " + chosen.Origin;
    return chosen.Origin;
}

} // namespace

UserDefault UserDefaultDestination()
{
    const auto from = [](const std::string& value, const std::string& origin) {
        return UserDefault{WithoutInstance(value), value, origin};
    };
    // Set but empty still counts, as lp takes it.
    if (const auto lpdest = Environment("LPDEST"))
        return from(*lpdest, "LPDEST");
    if (const auto printer = Environment("PRINTER"); printer && *printer != "lp")
        return from(*printer, "PRINTER");
    // Without HOME, the root folder stands for it.
    const char* home = std::getenv("HOME");
    const char* serverRoot = std::getenv("CUPS_SERVERROOT");
    for (const std::string& path : {std::string(home ? home : "/") + "/.cups/lpoptions",
                                    std::string(serverRoot ? serverRoot : "/etc/cups") + "/lpoptions"})
        if (const std::optional<std::string> value = DefaultFromOptions(path))
            return from(*value, path);
    return {};
}

void CheckUserDefault(const UserDefault& chosen)
{
    if (chosen.Origin.empty() || !chosen.Name.empty())
        return;
    if (Trimmed(chosen.Value).empty())
        throw EPrinter(Format("%1 is empty: it names no printer", OriginText(chosen)));
    throw EPrinter(
        Format("\"%1\", named by %2, is not the name of a printer", Quoted(chosen.Value), OriginText(chosen)));
}

std::string NotValidMessage(const std::string& device)
{
    std::string message = "Printer selected is not valid";
    const UserDefault chosen = UserDefaultDestination();
    // Queue names match in any case of their ASCII letters, as the server
    // matches them.
    if (!device.empty() && !chosen.Origin.empty() && SameWord(device, chosen.Name))
        message += Format(": \"%1\", named by %2, is not a printer on the server", Quoted(device), OriginText(chosen));
    return message;
}

} // namespace vcups
