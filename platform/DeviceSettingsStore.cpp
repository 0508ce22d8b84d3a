#include "platform/DeviceSettingsStore.h"

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "platform/IniText.h"
#include "platform/SettingsFile.h"

#include <cmath>
#include <limits>
#include <mutex>
#include <set>
#include <utility>

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

// Null when the file cannot be used; that is noted once.
std::optional<SettingsFile> Store()
{
    const std::string path = SettingsFilePath();
    if (path.empty())
        return std::nullopt;
    std::string problem;
    const std::string text = ReadSettingsText(path, problem);
    if (!problem.empty()) {
        Note(Format("The settings file \"%1\" %2: the settings kept for each device are not used", path, problem));
        return std::nullopt;
    }
    return SettingsFile{path, ParseIni(text)};
}

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
    {"ScaleXPercent", &CutterCorrections::ScaleXPercent},
    {"ScaleYPercent", &CutterCorrections::ScaleYPercent},
    {"BladeOffsetMm", &CutterCorrections::BladeOffsetMm},
    {"OvercutMm", &CutterCorrections::OvercutMm},
    {"WeedBoxMm", &CutterCorrections::WeedBoxMm},
    {"SkewDeg", &CutterCorrections::SkewDeg},
    {"Force", &CutterCorrections::Force},
    {"Speed", &CutterCorrections::Speed}};

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
    // Force and speed are in the language's own units: out of its range,
    // they are left out as any bad key is.
    const ToolSetting tool{s.Corrections.Force, s.Corrections.Speed};
    if (!ToolSettingProblem(s.Language, {tool.Force, 0}).empty()) {
        r.Bad("Force", tool.Force);
        s.Corrections.Force = 0;
    }
    if (!ToolSettingProblem(s.Language, {0, tool.Speed}).empty()) {
        r.Bad("Speed", tool.Speed);
        s.Corrections.Speed = 0;
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
        throw EFileError("The settings were not saved: no device is named");
    const std::string group = GroupOf(device) + '/';
    const auto withEntry = [&](const std::string& old) {
        IniEntries e = ParseIni(old);
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
        // The ladder's own offsets are for its one job, never kept. Each
        // value to its step, so the file holds 94.57, not what the sums
        // leave of it.
        const CutterCorrections rounded = RoundedCorrections(s.Corrections);
        for (const auto& [key, correction] : Corrections)
            e[group + key] = IniNumber(rounded.*correction);
        e[group + "CutOrder"] = IniText(std::string(CutOrderWord(s.Corrections.Order)));
        return FormatIni(e);
    };
    // Room for the entry once more: a disk that can just take the file
    // says so now, not on the next save.
    RewriteSettingsText(SettingsFilePath(), withEntry, 20 * (group.size() + 64));
}
