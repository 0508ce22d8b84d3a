#include "output/CutterSettingsModel.h"

#include "common/Text.h"
#include "cutter/BufferHandshake.h"
#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "platform/PrinterObject.h"

#include <cmath>

DeviceKind DeviceKindOf(std::string_view device)
{
    if (!IsPortDevice(device))
        return DeviceKind::Queue;
    return device.starts_with("/dev/usb/") ? DeviceKind::PrinterPort : DeviceKind::SerialPort;
}

bool OffersLanguage(DeviceKind kind, SendAs language)
{
    return kind == DeviceKind::Queue || language != SendAs::Driver;
}

CutterControls OfferedControls(DeviceKind kind, SendAs language)
{
    const bool cutter = language != SendAs::Driver;
    return {
        .SheetSize = cutter,
        .Axes = cutter,
        .PathCorrections = cutter,
        .Force = !ForceRange(language).Command.empty(),
        .Speed = !SpeedRange(language).Command.empty(),
        .SerialLine = kind == DeviceKind::SerialPort,
    };
}

std::string ToolNote(SendAs language)
{
    if (language == SendAs::Driver)
        return "Force and speed are the driver's.";
    const ToolRange force = ForceRange(language), speed = SpeedRange(language);
    if (force.Command.empty() && speed.Command.empty())
        return Format("%1 has no command for force or speed: nothing is sent; set them on the cutter.",
                      LanguageName(language));
    return Format(
        "Sent at the start of every job as %1's %2 (%3 to %4) and %5 (%6 to %7); Off leaves the cutter's own.",
        LanguageName(language), force.Command, force.Low, force.High, speed.Command, speed.Low, speed.High);
}

std::string CorrectionsNote(SendAs language)
{
    return language != SendAs::Driver ? "0 is off: a cutter that compensates the blade itself needs none here."
                                      : "Through the printer driver only the scale applies; blade offset, overcut, "
                                        "cut order and weed box belong to the driver.";
}

FieldLimits LimitsOf(CutterField field, SendAs language)
{
    switch (field) {
    case CutterField::SheetWidth: return {10, 5000, 2};
    case CutterField::SheetLength: return {10, 50000, 2};
    case CutterField::ScaleX:
    case CutterField::ScaleY: return {MinScalePercent, MaxScalePercent, 2};
    case CutterField::BladeOffset: return {0, MaxBladeOffsetMm, 2};
    case CutterField::Overcut: return {0, MaxOvercutMm, 2};
    case CutterField::WeedBox: return {0, MaxWeedBoxMm, 1};
    case CutterField::Force: return {0, double(ForceRange(language).High), 0};
    case CutterField::Speed: return {0, double(SpeedRange(language).High), 0};
    case CutterField::Flow: break;
    }
    return {};
}

std::string_view FieldName(CutterField field)
{
    switch (field) {
    case CutterField::SheetWidth: return "Sheet width";
    case CutterField::SheetLength: return "Sheet length";
    case CutterField::ScaleX: return "Scale x";
    case CutterField::ScaleY: return "Scale y";
    case CutterField::BladeOffset: return "Blade offset";
    case CutterField::Overcut: return "Overcut";
    case CutterField::WeedBox: return "Weed box";
    case CutterField::Force: return "Knife force";
    case CutterField::Speed: return "Cutting speed";
    case CutterField::Flow: return "Flow control";
    }
    return {};
}

DeviceSettings CustomCutterSheet(double widthMm, double lengthMm)
{
    // Hundredths of a millimetre, as every other size in the program.
    const double w = std::round(widthMm * 100) / 100, l = std::round(lengthMm * 100) / 100;
    return CutterSheet(Format("Custom.%1x%2mm", w, l), w, l);
}

namespace {

bool SameScale(const ToolRange& a, const ToolRange& b)
{
    return !a.Command.empty() && !b.Command.empty() && a.Unit == b.Unit && a.Low == b.Low && a.High == b.High;
}

double ValueInLanguage(double value, const ToolRange& from, const ToolRange& to)
{
    return SameScale(from, to) ? value : 0;
}

} // namespace

ToolSetting ToolsInLanguage(SendAs from, SendAs to, const ToolSetting& tool)
{
    if (from == to)
        return tool;
    return {ValueInLanguage(tool.Force, ForceRange(from), ForceRange(to)),
            ValueInLanguage(tool.Speed, SpeedRange(from), SpeedRange(to))};
}

std::string OtherUnitsReason(SendAs from, SendAs to, const ToolSetting& tool)
{
    const ToolSetting taken = ToolsInLanguage(from, to, tool);
    std::vector<std::string> left;
    if (tool.Force != taken.Force && !ForceRange(to).Command.empty())
        left.emplace_back("the force");
    if (tool.Speed != taken.Speed && !SpeedRange(to).Command.empty())
        left.emplace_back("the speed");
    if (left.empty())
        return {};
    return Format("%1 counts %2 in other units than %3", LanguageName(to), Join(left, " and "), LanguageName(from));
}

void ChangeLanguage(DeviceSettings& s, SendAs to, const std::function<DriverPapers()>& driverPapers)
{
    const SendAs from = s.Language;
    if (from == to)
        return;
    const ToolSetting tool = ToolsInLanguage(from, to, {s.Corrections.Force, s.Corrections.Speed});
    s.Corrections.Force = tool.Force;
    s.Corrections.Speed = tool.Speed;
    s.Language = to;
    if (from == SendAs::Driver) {
        // A cutter draws on the whole sheet.
        TakeSheet(s, CutterSheetFor(s));
    } else if (to == SendAs::Driver && driverPapers) {
        const DriverPapers papers = driverPapers();
        const DeviceSettings* paper = DriverPaperOfSize(papers.Papers, s);
        TakeSheet(s, paper ? *paper : papers.Defaults);
    }
}

DeviceSettings SettingsToShow(const std::optional<DeviceSettings>& chosen, const std::function<KnownSettings()>& known)
{
    const auto sized = [](const DeviceSettings& s) { return s.PaperWidthMm > 0 && s.PaperHeightMm > 0; };
    if (chosen && sized(*chosen))
        return *chosen;
    const KnownSettings k = known();
    DeviceSettings s = chosen ? *chosen : k.Remembered.value_or(k.Defaults);
    if (!sized(s)) {
        TakeSheet(s, k.Defaults);
        s.Landscape = k.Defaults.Landscape;
    }
    return s;
}

namespace {

constexpr LineOption Speeds[] = {{1200, "1200"},   {2400, "2400"},   {4800, "4800"},   {9600, "9600"},
                                 {19200, "19200"}, {38400, "38400"}, {57600, "57600"}, {115200, "115200"}};
constexpr LineOption DataBits[] = {{8, "8"}, {7, "7"}, {6, "6"}, {5, "5"}};
constexpr LineOption Parities[] = {{'N', "None"}, {'E', "Even"}, {'O', "Odd"}};
constexpr LineOption StopBits[] = {{1, "1"}, {2, "2"}};
constexpr LineOption Flows[] = {{int(FlowControl::None), "None"},
                                {int(FlowControl::XonXoff), "XON/XOFF"},
                                {int(FlowControl::RtsCts), "RTS/CTS"},
                                {int(FlowControl::Query), "Ask the cutter"}};

int LineValue(LineField field, const PortSettings& line)
{
    switch (field) {
    case LineField::Speed: return line.Baud;
    case LineField::DataBits: return line.DataBits;
    case LineField::Parity: return line.Parity;
    case LineField::StopBits: return line.StopBits;
    case LineField::Flow: return int(line.Flow);
    }
    return 0;
}

} // namespace

std::span<const LineOption> LineOptions(LineField field)
{
    switch (field) {
    case LineField::Speed: return Speeds;
    case LineField::DataBits: return DataBits;
    case LineField::Parity: return Parities;
    case LineField::StopBits: return StopBits;
    case LineField::Flow: return Flows;
    }
    return {};
}

int LineOptionIndex(LineField field, const PortSettings& line)
{
    const std::span<const LineOption> options = LineOptions(field);
    for (std::size_t i = 0; i < options.size(); ++i)
        if (options[i].Value == LineValue(field, line))
            return static_cast<int>(i);
    return -1;
}

void TakeLineOption(LineField field, int index, PortSettings& line)
{
    const std::span<const LineOption> options = LineOptions(field);
    if (index < 0 || index >= static_cast<int>(options.size()))
        return;
    const int value = options[static_cast<std::size_t>(index)].Value;
    switch (field) {
    case LineField::Speed: line.Baud = value; break;
    case LineField::DataBits: line.DataBits = value; break;
    case LineField::Parity: line.Parity = static_cast<char>(value); break;
    case LineField::StopBits: line.StopBits = value; break;
    case LineField::Flow: line.Flow = static_cast<FlowControl>(value); break;
    }
}

std::string LineProblem(SendAs language, const PortSettings& line)
{
    return HandshakeProblem(language, line.Flow);
}

std::optional<double> FieldNumber(std::string_view text, const FieldLimits& limits)
{
    const std::optional<double> value = DoubleFromText(text);
    if (!value || !std::isfinite(*value) || *value < limits.Low || *value > limits.High)
        return std::nullopt;
    return value;
}

CutterFieldsReading ReadCutterFields(const DeviceSettings& before, const CutterFields& f)
{
    DeviceSettings s = before;
    s.Language = f.Language;
    CutterFieldsReading reading;
    const auto read = [&](CutterField field, const std::string& text, double& into) {
        const FieldLimits limits = LimitsOf(field, f.Language);
        const std::optional<double> value = FieldNumber(text, limits);
        if (!value) {
            reading.Wrong = field;
            reading.Message = Format("%1: enter a number from %2 to %3.", FieldName(field), limits.Low, limits.High);
            return false;
        }
        into = *value;
        return true;
    };
    CutterCorrections& c = s.Corrections;
    if (f.Language != SendAs::Driver) {
        double width = 0, length = 0;
        if (!read(CutterField::SheetWidth, f.SheetWidth, width)
            || !read(CutterField::SheetLength, f.SheetLength, length))
            return reading;
        const DeviceSettings sheet = CustomCutterSheet(width, length);
        if (!SameSheetSize(before, sheet))
            TakeSheet(s, sheet);
        // A cutter has no unprintable border.
        s.MarginLeftMm = s.MarginBottomMm = s.MarginRightMm = s.MarginTopMm = 0;
        s.Rotate90 = f.Rotate90;
        s.MirrorX = f.MirrorX;
        s.MirrorY = f.MirrorY;
        if (!read(CutterField::BladeOffset, f.BladeOffset, c.BladeOffsetMm)
            || !read(CutterField::Overcut, f.Overcut, c.OvercutMm))
            return reading;
        // A value the language has no command for is dropped.
        const CutterControls offered = OfferedControls(DeviceKind::Queue, f.Language);
        c.Force = c.Speed = 0;
        if ((offered.Force && !read(CutterField::Force, f.Force, c.Force))
            || (offered.Speed && !read(CutterField::Speed, f.Speed, c.Speed)))
            return reading;
        for (const auto& [field, tool] : {std::pair(CutterField::Force, ToolSetting{c.Force, 0}),
                                          std::pair(CutterField::Speed, ToolSetting{0, c.Speed})}) {
            if (std::string problem = ToolSettingProblem(f.Language, tool); !problem.empty()) {
                reading.Wrong = field;
                reading.Message = problem + ".";
                return reading;
            }
        }
    } else {
        // The driver takes no cutter commands.
        c.Force = c.Speed = 0;
    }
    if (!read(CutterField::ScaleX, f.ScaleX, c.ScaleXPercent) || !read(CutterField::ScaleY, f.ScaleY, c.ScaleYPercent))
        return reading;
    if (std::string problem = LineProblem(f.Language, f.Line); !problem.empty()) {
        reading.Wrong = CutterField::Flow;
        reading.Message = problem + ".";
        return reading;
    }
    s.Line = f.Line;
    reading.Settings = s;
    return reading;
}
