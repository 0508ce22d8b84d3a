#include "platform/DeviceSettingsStore.h"

#include "common/Exceptions.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
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
    QSet<QString> Given;
};

Notes& TheNotes()
{
    static Notes notes;
    return notes;
}

void Note(const QString& note)
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
    hook(note.toStdString());
}

QString SystemText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// What keeps the file at path from serving as the settings file, as the end
// of a sentence that begins with its name; empty when nothing does. Only a
// regular file is opened: a pipe put in its place would block, a device
// could answer without end. An absent file is no problem: nothing is kept.
QString FileProblem(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    if (::stat(native.constData(), &info) != 0) {
        const int code = errno;
        return code == ENOENT ? QString() : QStringLiteral("cannot be read (%1)").arg(SystemText(code));
    }
    if (!S_ISREG(info.st_mode))
        return QStringLiteral("is not a regular file");
    if (info.st_size > MaxSettingsFileBytes)
        return QStringLiteral("is %1 MB, too large to be a settings file")
            .arg(static_cast<double>(info.st_size) / (1 << 20), 0, 'f', 1);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const int code = errno;
        return QStringLiteral("cannot be read (%1)").arg(SystemText(code));
    }
    ::close(fd);
    return {};
}

// Null when the file cannot be used; that is noted once.
std::optional<QSettings> Store()
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(SettingsFilePath()));
    if (path.isEmpty())
        return std::nullopt;
    if (const QString problem = FileProblem(path); !problem.isEmpty()) {
        Note(QStringLiteral("The settings file \"%1\" %2: the settings kept for each device are not used")
                 .arg(path, problem));
        return std::nullopt;
    }
    return std::optional<QSettings>(std::in_place, path, QSettings::IniFormat);
}

[[noreturn]] void NotSaved(const QString& why)
{
    throw EFileError("The settings were not saved: " + why.toStdString());
}

// Makes the folder and those above it; 0 or the error.
int MakeFolder(const QByteArray& folder)
{
    struct stat info {};
    if (::stat(folder.constData(), &info) == 0)
        return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    if (const qsizetype slash = folder.lastIndexOf('/'); slash > 0)
        if (const int code = MakeFolder(folder.left(slash)))
            return code;
    return ::mkdir(folder.constData(), 0777) == 0 || errno == EEXIST ? 0 : errno;
}

// Held while the settings file is read and written again: a save running
// at the same time waits for it, so neither writes over the other's device.
// A lock file of its own beside the settings file, which the store's own
// short-lived lock file must not be.
class TSettingsLock {
public:
    explicit TSettingsLock(const QString& folder)
    {
        const QString name = folder + QStringLiteral("/vellico-output-test.lock");
        FFd = ::open(QFile::encodeName(name).constData(),
                     O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600);
        if (FFd < 0) {
            const int code = errno;
            NotSaved(QStringLiteral("the folder \"%1\" cannot be written: %2").arg(folder, SystemText(code)));
        }
        // A save takes milliseconds; a lock held far longer is another
        // program's, and waiting on it would hang the save.
        for (int waited = 0; ::flock(FFd, LOCK_EX | LOCK_NB) != 0; waited += 10) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= 5000) {
                ::close(FFd);
                NotSaved(QStringLiteral("another program keeps \"%1\" locked").arg(name));
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

// The settings file's new contents, in a file of its own beside the one it
// replaces (the target of a link), renamed over it once whole: the store
// reads the old contents there afresh, never from what it keeps of an
// earlier reading, which a file changed within the same tick of the file
// system's clock would leave stale. Removed unless it takes the old one's
// place.
class TNewSettingsFile {
public:
    // Copies the old contents, and checks that the disk takes room more.
    TNewSettingsFile(const QString& path, const QByteArray& contents, qint64 room)
        : FPath(path), FTarget(QFileInfo(path).isSymLink() ? QFileInfo(path).symLinkTarget() : path)
    {
        const QByteArray target = QFile::encodeName(FTarget);
        struct stat old {};
        const bool replacing = ::stat(target.constData(), &old) == 0;
        // A file made read-only is not replaced behind its owner's back.
        if (replacing && ::access(target.constData(), W_OK) != 0)
            Fail(errno);
        int fd = -1;
        for (int tries = 0; fd < 0 && tries < 100; ++tries) {
            FNative = QFile::encodeName(QFileInfo(FTarget).absolutePath())
                      + QStringLiteral("/.vellico-output-test.%1")
                            .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))
                            .toLatin1();
            fd = ::open(FNative.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd < 0 && errno != EEXIST)
                break;
        }
        if (fd < 0) {
            const int code = errno;
            FNative.clear();
            Fail(code);
        }
        int code = 0;
        if (replacing) {
            (void)!::fchown(fd, old.st_uid, old.st_gid);
            if (::fchmod(fd, old.st_mode & 07777) != 0)
                code = errno;
        }
        // A write cut short is followed by one that says why.
        const QByteArray spare(static_cast<qsizetype>(room), '\n');
        for (const QByteArray& part : {contents, spare}) {
            for (qsizetype done = 0; code == 0 && done < part.size();) {
                const ssize_t n = ::write(fd, part.constData() + done, static_cast<size_t>(part.size() - done));
                if (n < 0 && errno != EINTR)
                    code = errno;
                done += std::max<qsizetype>(n, 0);
            }
        }
        if (code == 0 && (::fsync(fd) != 0 || ::ftruncate(fd, contents.size()) != 0))
            code = errno;
        ::close(fd);
        if (code != 0) {
            // Not made, so not removed by the destructor.
            ::unlink(FNative.constData());
            FNative.clear();
            Fail(code);
        }
    }
    ~TNewSettingsFile()
    {
        if (!FNative.isEmpty())
            ::unlink(FNative.constData());
    }
    TNewSettingsFile(const TNewSettingsFile&) = delete;
    TNewSettingsFile& operator=(const TNewSettingsFile&) = delete;

    QString Path() const { return QFile::decodeName(FNative); }

    // Takes the old file's place.
    void Replace()
    {
        const QByteArray target = QFile::encodeName(FTarget);
        // Readers that keep what they read know the file by its size and
        // time to the millisecond: the new one must not pass for the old,
        // however coarse the file system's clock (two seconds at worst).
        struct stat old {};
        struct stat made {};
        if (::stat(target.constData(), &old) == 0 && ::stat(FNative.constData(), &made) == 0
            && old.st_size == made.st_size && old.st_mtim.tv_sec == made.st_mtim.tv_sec
            && old.st_mtim.tv_nsec / 1000000 == made.st_mtim.tv_nsec / 1000000) {
            const timespec times[2] = {{0, UTIME_OMIT}, {old.st_mtim.tv_sec + 2, old.st_mtim.tv_nsec}};
            (void)::utimensat(AT_FDCWD, FNative.constData(), times, 0);
        }
        if (::rename(FNative.constData(), target.constData()) != 0)
            Fail(errno);
        FNative.clear();
    }

    [[noreturn]] void Fail(int code) const
    {
        const QString why = SystemText(code);
        if (FTarget == FPath)
            NotSaved(QStringLiteral("the settings file \"%1\" cannot be written: %2").arg(FPath, why));
        NotSaved(QStringLiteral("the settings file \"%1\" links to \"%2\", which cannot be written: %3")
                     .arg(FPath, FTarget, why));
    }

private:
    QString FPath, FTarget;
    QByteArray FNative;
};

// The whole file, which FileProblem passed; nothing when there is none.
QByteArray ReadWhole(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT)
        return {};
    QByteArray contents;
    struct stat info {};
    int code = fd < 0 ? errno : 0;
    if (code == 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= MaxSettingsFileBytes) {
        contents.resize(static_cast<qsizetype>(info.st_size));
        qsizetype done = 0;
        while (code == 0 && done < contents.size()) {
            const ssize_t n = ::read(fd, contents.data() + done, static_cast<size_t>(contents.size() - done));
            if (n < 0 && errno != EINTR)
                code = errno;
            else if (n == 0)
                break;
            done += std::max<qsizetype>(n, 0);
        }
        contents.truncate(done);
    } else if (code == 0) {
        code = EIO; // replaced since it was checked: not ours to guess at
    }
    if (fd >= 0)
        ::close(fd);
    if (code != 0)
        NotSaved(QStringLiteral("the settings file \"%1\" cannot be read: %2").arg(path, SystemText(code)));
    return contents;
}

// Queue names may hold characters QSettings treats as separators.
QString GroupOf(const QString& device)
{
    return QStringLiteral("Devices/") + QString::fromLatin1(QUrl::toPercentEncoding(device));
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
    {"ScaleXPercent", &CutterCorrections::ScaleXPercent},
    {"ScaleYPercent", &CutterCorrections::ScaleYPercent},
    {"BladeOffsetMm", &CutterCorrections::BladeOffsetMm},
    {"OvercutMm", &CutterCorrections::OvercutMm}};

// A value as the file has it: an unquoted "a,b" reads as a list.
QString TextOf(const QVariant& v)
{
    return v.typeId() == QMetaType::QStringList ? v.toStringList().join(QLatin1Char(',')) : v.toString();
}

bool ReadBool(const QVariant& v, bool& out)
{
    if (v.typeId() == QMetaType::Bool) {
        out = v.toBool();
        return true;
    }
    const QString text = TextOf(v).trimmed().toLower();
    for (const auto& [yes, no] : {std::pair("true", "false"), std::pair("yes", "no"), std::pair("1", "0")}) {
        if (text == QLatin1String(yes) || text == QLatin1String(no)) {
            out = text == QLatin1String(yes);
            return true;
        }
    }
    return false;
}

bool ReadNumber(const QVariant& v, double low, double high, double& out)
{
    if (v.typeId() == QMetaType::QStringList)
        return false;
    bool ok = false;
    const double value = v.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < low || value > high)
        return false;
    out = value;
    return true;
}

// One entry read over the defaults, with the keys it cannot use.
struct EntryReader {
    QSettings& Store;
    const DeviceSettings& Defaults;
    DeviceSettings S; // the defaults, then each key that can be used
    QStringList BadKeys;

    // Whether the key is there; a value that `take` refuses is a bad key.
    template <class Take>
    bool Read(const char* key, Take take)
    {
        const QVariant v = Store.value(QLatin1String(key));
        if (!v.isValid())
            return false;
        if (!take(v))
            Bad(key, v);
        return true;
    }
    void Bad(const char* key, const QVariant& v)
    {
        BadKeys << QStringLiteral("%1 \"%2\"")
                       .arg(QLatin1String(key), QString::fromStdString(Quoted(TextOf(v).toStdString())));
    }
};

void ReadSheet(EntryReader& r)
{
    DeviceSettings& s = r.S;
    // The name and the size go together: all three, or the default sheet.
    QString paper;
    double width = 0, length = 0;
    r.Read("Paper", [&](const QVariant& v) {
        paper = TextOf(v);
        return !paper.isEmpty();
    });
    r.Read("WidthMm", [&](const QVariant& v) { return ReadNumber(v, 1, MaxSheetMm, width); });
    r.Read("LengthMm", [&](const QVariant& v) { return ReadNumber(v, 1, MaxSheetMm, length); });
    if (!paper.isEmpty() && width > 0 && length > 0) {
        s.PaperName = paper.toStdString();
        s.PaperWidthMm = width;
        s.PaperHeightMm = length;
    }
    // A margin not kept is the default sheet's, on that sheet; none elsewhere.
    const bool defaultSheet = s.PaperWidthMm == r.Defaults.PaperWidthMm && s.PaperHeightMm == r.Defaults.PaperHeightMm;
    bool kept[4] = {};
    for (int i = 0; i < 4; ++i) {
        double DeviceSettings::*margin = Margins[i].second;
        s.*margin = defaultSheet ? r.Defaults.*margin : 0;
        kept[i] = r.Read(Margins[i].first, [&](const QVariant& v) { return ReadNumber(v, 0, MaxSheetMm, s.*margin); });
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

// Named outright rather than QSettings("Vellico", "vellico-output-test"),
// which also reads organisation-wide and system files: only this file is
// read, and only once it is known to be a file.
std::string SettingsFilePath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return folder.isEmpty()
               ? std::string()
               : QFile::encodeName(folder + QStringLiteral("/Vellico/vellico-output-test.conf")).toStdString();
}

void SetSettingsNoteHook(std::function<void(const std::string& note)> hook)
{
    Notes& n = TheNotes();
    std::lock_guard lock(n.Mutex);
    n.Hook = std::move(hook);
    n.Given.clear();
}

std::optional<DeviceSettings> RememberedSettings(const std::string& deviceName, const DeviceSettings& defaults)
{
    const QString device = QString::fromStdString(deviceName);
    if (device.isEmpty())
        return std::nullopt;
    std::optional<QSettings> store = Store();
    if (!store)
        return std::nullopt;
    store->beginGroup(GroupOf(device));
    if (store->childKeys().isEmpty())
        return std::nullopt;
    EntryReader r{*store, defaults, defaults, {}};
    DeviceSettings& s = r.S;

    r.Read("SendAs", [&](const QVariant& v) {
        const std::optional<SendAs> language = SendAsFromWord(TextOf(v).toStdString());
        s.Language = language.value_or(s.Language);
        return language.has_value();
    });
    ReadSheet(r);
    for (const auto& [key, flag] : Flags)
        r.Read(key, [&, flag = flag](const QVariant& v) { return ReadBool(v, s.*flag); });
    r.Read("ResolutionDpi", [&](const QVariant& v) {
        double dpi = 0;
        if (!ReadNumber(v, 0, 100000, dpi) || dpi != std::floor(dpi))
            return false;
        s.ResolutionDpi = static_cast<int>(dpi);
        return true;
    });
    // Entries kept before ports were offered have no line: the defaults.
    r.Read("Line", [&](const QVariant& v) {
        const std::optional<PortSettings> line = ParsePortSettings(TextOf(v).toStdString());
        s.Line = line.value_or(s.Line);
        return line.has_value();
    });
    // Each correction on its own, against its own limits; an entry from
    // before calibration has none, which is the default (off).
    for (const auto& [key, correction] : Corrections) {
        r.Read(key, [&, correction = correction](const QVariant& v) {
            CutterCorrections alone = defaults.Corrections;
            if (!ReadNumber(v, -Unbounded, Unbounded, alone.*correction) || !CorrectionsProblem(alone).empty())
                return false;
            s.Corrections.*correction = alone.*correction;
            return true;
        });
    }
    if (!r.BadKeys.isEmpty())
        Note(QStringLiteral("Some settings kept for \"%1\" cannot be used and are left out: %2 (in %3)")
                 .arg(QString::fromStdString(Quoted(deviceName)), r.BadKeys.join(QStringLiteral(", ")),
                      store->fileName()));
    return s;
}

void RememberSettings(const std::string& deviceName, const DeviceSettings& s)
{
    try {
        SaveSettings(deviceName, s);
    } catch (const Exception&) {
        // Best effort: the choice is only not remembered.
    }
}

void SaveSettings(const std::string& deviceName, const DeviceSettings& s)
{
    const QString device = QString::fromStdString(deviceName);
    if (device.isEmpty())
        NotSaved(QStringLiteral("no device is named"));
    const QString path = QFile::decodeName(QByteArray::fromStdString(SettingsFilePath()));
    if (path.isEmpty())
        NotSaved(QStringLiteral("there is no configuration folder (HOME is not set)"));
    const QString folder = QFileInfo(path).absolutePath();
    if (const int code = MakeFolder(QFile::encodeName(folder)))
        NotSaved(QStringLiteral("the folder \"%1\" cannot be made: %2").arg(folder, SystemText(code)));
    const TSettingsLock lock(folder);
    // Read under the lock, so the file written keeps every other entry.
    if (const QString problem = FileProblem(path); !problem.isEmpty())
        NotSaved(QStringLiteral("the settings file \"%1\" %2").arg(path, problem));
    const QString group = GroupOf(device);
    // Room for this entry in full, each key under the group's name: a disk
    // that cannot take it would have the store write a file cut short, and
    // say nothing.
    TNewSettingsFile file(path, ReadWhole(path), 20 * (group.size() + 64));
    QStringList written;
    {
        QSettings store(file.Path(), QSettings::IniFormat);
        store.beginGroup(group);
        store.setValue(QStringLiteral("SendAs"), QString::fromStdString(std::string(SendAsWord(s.Language))));
        store.setValue(QStringLiteral("Paper"), QString::fromStdString(s.PaperName));
        store.setValue(QStringLiteral("WidthMm"), s.PaperWidthMm);
        store.setValue(QStringLiteral("LengthMm"), s.PaperHeightMm);
        for (const auto& [key, margin] : Margins)
            store.setValue(QLatin1String(key), s.*margin);
        for (const auto& [key, flag] : Flags)
            store.setValue(QLatin1String(key), s.*flag);
        store.setValue(QStringLiteral("ResolutionDpi"), s.ResolutionDpi);
        if (IsPortDevice(deviceName))
            store.setValue(QStringLiteral("Line"), QString::fromStdString(PortSettingsText(s.Line)));
        // The ladder's own offsets are for its one job, never kept.
        for (const auto& [key, correction] : Corrections)
            store.setValue(QLatin1String(key), s.Corrections.*correction);
        store.endGroup();
        store.sync();
        // A file the store reads with faults is still written; only a file
        // it could not open or write is not.
        if (store.status() == QSettings::AccessError)
            file.Fail(EIO);
        for (const QString& key : store.allKeys())
            written << key + u'=' + store.value(key).toString();
    }
    // Read back under another name, which the store has never read: all of
    // it, or the old file stays.
    QStringList readBack;
    {
        const QString check = file.Path() + QStringLiteral(".check");
        if (::link(QFile::encodeName(file.Path()).constData(), QFile::encodeName(check).constData()) != 0)
            file.Fail(errno);
        const QSettings store(check, QSettings::IniFormat);
        for (const QString& key : store.allKeys())
            readBack << key + u'=' + store.value(key).toString();
        ::unlink(QFile::encodeName(check).constData());
    }
    if (readBack != written)
        file.Fail(EIO);
    file.Replace();
}
