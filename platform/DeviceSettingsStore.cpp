#include "platform/DeviceSettingsStore.h"

#include "common/Exceptions.h"
#include "platform/IniText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Longer than any roll a cutter takes; anything beyond is a damaged entry.
constexpr double MaxSheetMm = 100000;
constexpr double Unbounded = std::numeric_limits<double>::max();

struct Notes {
    std::mutex Mutex;
    std::function<void(const std::string&)> Hook;
    std::set<std::string> Given;
};

Notes& TheNotes()
{
    static Notes notes;
    return notes;
}

void Note(const std::string& note)
{
    Notes& n = TheNotes();
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard lock(n.Mutex);
        if (!n.Hook || n.Given.contains(note))
            return;
        n.Given.insert(note);
        hook = n.Hook;
    }
    hook(note);
}

// The settings file as it is now: its entries, and its name.
struct SettingsFile {
    std::string Path;
    IniEntries Entries;
};

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

// Null when the file cannot be used; that is noted once.
std::optional<SettingsFile> Store()
{
    const std::string path = SettingsFilePath();
    if (path.empty())
        return std::nullopt;
    std::string problem = FileProblem(path);
    std::string text;
    if (problem.empty())
        if (const int code = ReadWhole(path, text))
            problem = Format("cannot be read (%1)", SystemText(code));
    if (!problem.empty()) {
        Note(Format("The settings file \"%1\" %2: the settings kept for each device are not used", path, problem));
        return std::nullopt;
    }
    return SettingsFile{path, ParseIni(text)};
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

// Queue names may hold characters the file treats as separators: each byte
// but letters, digits and "-._~" is written as %XX.
std::string GroupOf(const std::string& device)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string group = "Devices/";
    for (const char ch : device) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_' || c == '~') {
            group += ch;
        } else {
            group += '%';
            group += Hex[c >> 4];
            group += Hex[c & 15];
        }
    }
    return group;
}

// The keys kept for fields of their kind; margins in pairs across the
// sheet, then up it.
constexpr std::pair<const char*, double DeviceSettings::*> Margins[] = {
    {"MarginLeftMm", &DeviceSettings::MarginLeftMm},
    {"MarginRightMm", &DeviceSettings::MarginRightMm},
    {"MarginBottomMm", &DeviceSettings::MarginBottomMm},
    {"MarginTopMm", &DeviceSettings::MarginTopMm}};
constexpr std::pair<const char*, bool DeviceSettings::*> Flags[] = {{"Landscape", &DeviceSettings::Landscape},
                                                                    {"Rotate90", &DeviceSettings::Rotate90},
                                                                    {"MirrorX", &DeviceSettings::MirrorX},
                                                                    {"MirrorY", &DeviceSettings::MirrorY}};
constexpr std::pair<const char*, double CutterCorrections::*> Corrections[] = {
    {"ScaleXPercent", &CutterCorrections::ScaleXPercent}, {"ScaleYPercent", &CutterCorrections::ScaleYPercent},
    {"BladeOffsetMm", &CutterCorrections::BladeOffsetMm}, {"OvercutMm", &CutterCorrections::OvercutMm},
    {"WeedBoxMm", &CutterCorrections::WeedBoxMm},         {"SkewDeg", &CutterCorrections::SkewDeg}};

// A value as the file has it: an unquoted "a,b" reads as a list.
std::string TextOf(const IniValue& v)
{
    return v.Text();
}

bool ReadBool(const IniValue& v, bool& out)
{
    const std::string text = AsciiLower(Trimmed(TextOf(v)));
    for (const auto& [yes, no] : {std::pair("true", "false"), std::pair("yes", "no"), std::pair("1", "0")}) {
        if (text == yes || text == no) {
            out = text == yes;
            return true;
        }
    }
    return false;
}

bool ReadNumber(const IniValue& v, double low, double high, double& out)
{
    if (v.IsList)
        return false;
    const std::optional<double> value = DoubleFromText(TextOf(v));
    if (!value || !std::isfinite(*value) || *value < low || *value > high)
        return false;
    out = *value;
    return true;
}

// One entry read over the defaults, with the keys it cannot use.
struct EntryReader {
    const IniEntries& Store;
    const std::string Group; // "Devices/<device>/"
    const DeviceSettings& Defaults;
    DeviceSettings S; // the defaults, then each key that can be used
    std::vector<std::string> BadKeys;

    // Whether the key is there; a value that `take` refuses is a bad key.
    template <class Take>
    bool Read(const char* key, Take take)
    {
        const auto v = Store.find(Group + key);
        if (v == Store.end())
            return false;
        if (!take(v->second))
            Bad(key, v->second);
        return true;
    }
    void Bad(const char* key, const IniValue& v) { BadKeys.push_back(Format("%1 \"%2\"", key, Quoted(TextOf(v)))); }
    // A number as it was kept.
    void Bad(const char* key, double v) { Bad(key, IniNumber(v)); }
};

void ReadSheet(EntryReader& r)
{
    DeviceSettings& s = r.S;
    // The name and the size go together: all three, or the default sheet.
    std::string paper;
    double width = 0, length = 0;
    r.Read("Paper", [&](const IniValue& v) {
        paper = TextOf(v);
        return !paper.empty();
    });
    r.Read("WidthMm", [&](const IniValue& v) { return ReadNumber(v, 1, MaxSheetMm, width); });
    r.Read("LengthMm", [&](const IniValue& v) { return ReadNumber(v, 1, MaxSheetMm, length); });
    if (!paper.empty() && width > 0 && length > 0) {
        s.PaperName = paper;
        s.PaperWidthMm = width;
        s.PaperHeightMm = length;
    }
    // A margin not kept is the default sheet's, on that sheet; none elsewhere.
    const bool defaultSheet = s.PaperWidthMm == r.Defaults.PaperWidthMm && s.PaperHeightMm == r.Defaults.PaperHeightMm;
    bool kept[4] = {};
    for (int i = 0; i < 4; ++i) {
        double DeviceSettings::*margin = Margins[i].second;
        s.*margin = defaultSheet ? r.Defaults.*margin : 0;
        kept[i] = r.Read(Margins[i].first, [&](const IniValue& v) { return ReadNumber(v, 0, MaxSheetMm, s.*margin); });
    }
    // Margins that leave nothing to draw on would place the sample off the
    // sheet: such a pair is left out.
    for (int first = 0; first < 4; first += 2) {
        const double across = first == 0 ? s.PaperWidthMm : s.PaperHeightMm;
        if (s.*Margins[first].second + s.*Margins[first + 1].second < across)
            continue;
        for (int i = first; i < first + 2; ++i) {
            if (kept[i] && s.*Margins[i].second != 0)
                r.Bad(Margins[i].first, s.*Margins[i].second);
            s.*Margins[i].second = 0;
        }
    }
}

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

void SetSettingsNoteHook(std::function<void(const std::string& note)> hook)
{
    Notes& n = TheNotes();
    std::lock_guard lock(n.Mutex);
    n.Hook = std::move(hook);
    n.Given.clear();
}

std::optional<DeviceSettings> RememberedSettings(const std::string& device, const DeviceSettings& defaults)
{
    if (device.empty())
        return std::nullopt;
    std::optional<SettingsFile> store = Store();
    if (!store)
        return std::nullopt;
    // Keys of the device's own, not of groups below it.
    const std::string group = GroupOf(device) + '/';
    const auto first = store->Entries.lower_bound(group);
    if (first == store->Entries.end() || !first->first.starts_with(group))
        return std::nullopt;
    bool any = false;
    for (auto it = first; !any && it != store->Entries.end() && it->first.starts_with(group); ++it)
        any = it->first.find('/', group.size()) == std::string::npos;
    if (!any)
        return std::nullopt;
    EntryReader r{store->Entries, group, defaults, defaults, {}};
    DeviceSettings& s = r.S;

    r.Read("SendAs", [&](const IniValue& v) {
        const std::optional<SendAs> language = SendAsFromWord(TextOf(v));
        s.Language = language.value_or(s.Language);
        return language.has_value();
    });
    ReadSheet(r);
    for (const auto& [key, flag] : Flags)
        r.Read(key, [&, flag = flag](const IniValue& v) { return ReadBool(v, s.*flag); });
    r.Read("ResolutionDpi", [&](const IniValue& v) {
        double dpi = 0;
        if (!ReadNumber(v, 0, 100000, dpi) || dpi != std::floor(dpi))
            return false;
        s.ResolutionDpi = static_cast<int>(dpi);
        return true;
    });
    // Entries kept before ports were offered have no line: the defaults.
    r.Read("Line", [&](const IniValue& v) {
        const std::optional<PortSettings> line = ParsePortSettings(TextOf(v));
        s.Line = line.value_or(s.Line);
        return line.has_value();
    });
    // Each correction on its own, against its own limits; an entry from
    // before calibration has none, which is the default (off).
    for (const auto& [key, correction] : Corrections) {
        r.Read(key, [&, correction = correction](const IniValue& v) {
            CutterCorrections alone = defaults.Corrections;
            if (!ReadNumber(v, -Unbounded, Unbounded, alone.*correction) || !CorrectionsProblem(alone).empty())
                return false;
            s.Corrections.*correction = alone.*correction;
            return true;
        });
    }
    r.Read("CutOrder", [&](const IniValue& v) {
        const std::optional<CutOrderMode> order = CutOrderFromWord(TextOf(v));
        s.Corrections.Order = order.value_or(s.Corrections.Order);
        return order.has_value();
    });
    if (!r.BadKeys.empty())
        Note(Format("Some settings kept for \"%1\" cannot be used and are left out: %2 (in %3)", Quoted(device),
                    Join(r.BadKeys, ", "), store->Path));
    return s;
}

void RememberSettings(const std::string& device, const DeviceSettings& s)
{
    try {
        SaveSettings(device, s);
    } catch (const Exception&) {
        // Best effort: the choice is only not remembered.
    }
}

void SaveSettings(const std::string& device, const DeviceSettings& s)
{
    if (device.empty())
        NotSaved("no device is named");
    const std::string path = SettingsFilePath();
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
    IniEntries e = ParseIni(old);
    const std::string group = GroupOf(device) + '/';
    e[group + "SendAs"] = IniText(std::string(SendAsWord(s.Language)));
    e[group + "Paper"] = IniText(s.PaperName);
    e[group + "WidthMm"] = IniNumber(s.PaperWidthMm);
    e[group + "LengthMm"] = IniNumber(s.PaperHeightMm);
    for (const auto& [key, margin] : Margins)
        e[group + key] = IniNumber(s.*margin);
    for (const auto& [key, flag] : Flags)
        e[group + key] = IniBool(s.*flag);
    e[group + "ResolutionDpi"] = IniNumber(s.ResolutionDpi);
    if (IsPortDevice(device))
        e[group + "Line"] = IniText(PortSettingsText(s.Line));
    // The ladder's own offsets are for its one job, never kept.
    for (const auto& [key, correction] : Corrections)
        e[group + key] = IniNumber(s.Corrections.*correction);
    e[group + "CutOrder"] = IniText(std::string(CutOrderWord(s.Corrections.Order)));
    const std::string text = FormatIni(e);
    // Room for the entry once more: a disk that can just take the file
    // says so now, not on the next save.
    TNewSettingsFile file(path, text, 20 * (group.size() + 64));
    // Read back: all of it, or the old file stays.
    std::string check;
    if (const int code = ReadWhole(file.Path(), check); code != 0 || check != text)
        file.Fail(code != 0 ? code : EIO);
    file.Replace();
}
