#include "platform/DeviceSettingsStore.h"

#include "common/Exceptions.h"

#include <QFile>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

#include <sys/stat.h>

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

// Null when the path holds something other than a regular file: QSettings
// would wait forever on a pipe put in its place.
std::optional<QSettings> Store()
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(SettingsFilePath()));
    if (path.isEmpty())
        return std::nullopt;
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        Note(QStringLiteral("The settings file \"%1\" is not a regular file: the settings kept for each device are "
                            "not used")
                 .arg(path));
        return std::nullopt;
    }
    return std::optional<QSettings>(std::in_place, path, QSettings::IniFormat);
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
    const QString device = QString::fromStdString(deviceName);
    if (device.isEmpty())
        return;
    std::optional<QSettings> store = Store();
    if (!store)
        return;
    store->beginGroup(GroupOf(device));
    store->setValue(QStringLiteral("SendAs"), QString::fromStdString(std::string(SendAsWord(s.Language))));
    store->setValue(QStringLiteral("Paper"), QString::fromStdString(s.PaperName));
    store->setValue(QStringLiteral("WidthMm"), s.PaperWidthMm);
    store->setValue(QStringLiteral("LengthMm"), s.PaperHeightMm);
    for (const auto& [key, margin] : Margins)
        store->setValue(QLatin1String(key), s.*margin);
    for (const auto& [key, flag] : Flags)
        store->setValue(QLatin1String(key), s.*flag);
    store->setValue(QStringLiteral("ResolutionDpi"), s.ResolutionDpi);
    if (IsPortDevice(deviceName))
        store->setValue(QStringLiteral("Line"), QString::fromStdString(PortSettingsText(s.Line)));
    // The ladder's own offsets are for its one job, never kept.
    for (const auto& [key, correction] : Corrections)
        store->setValue(QLatin1String(key), s.Corrections.*correction);
}
