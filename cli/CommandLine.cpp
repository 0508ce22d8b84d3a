#include "cli/CommandLine.h"

#include "cli/OptionTable.h"
#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "common/Text.h"
#include "cutter/CutOrder.h"
#include "cutter/CutStages.h"
#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "output/Calibration.h"
#include "output/CutterSettingsModel.h"
#include "output/LineCheck.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "output/Positions.h"
#include "output/PrinterStatus.h"
#include "platform/Console.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "platform/StopSignals.h"
#include "platform/SystemNames.h"
#include "platform/serial/PortDevices.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <iostream>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <tuple>
#include <utility>

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Arguments that make no sense: reported with a pointer to --help.
class EUsage : public Exception {
public:
    using Exception::Exception;
};

bool AllDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool EndsWithWord(std::string_view text, std::string_view ending)
{
    return text.size() >= ending.size() && SameWord(text.substr(text.size() - ending.size()), ending);
}

// How long --wait waits unless told: the queue holds the job until the
// cutter has taken it, so the wait spans the whole cut and the jobs queued
// before it; an hour covers a long plot behind a few others, and still ends
// a script that nobody watches on the same day.
constexpr int DefaultWaitLimitSeconds = 3600;

SendAs ParseSendAs(const std::string& word)
{
    if (const std::optional<SendAs> language = SendAsFromWord(word))
        return *language;
    throw EUsage(Format("Unknown language \"%1\" for --send-as; use driver, hpgl, dmpl, gpgl or camm", Quoted(word)));
}

int ParsePosition(const std::string& text)
{
    const int last = static_cast<int>(PositionTexts.size()) - 1;
    if (AllDigits(text)) {
        const std::optional<int> index = IntFromText(text);
        if (index && *index >= 0 && *index <= last)
            return *index;
        throw EUsage(Format("Position %1 is not in the list; use 0 to %2 or one of its texts", Quoted(text), last));
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < PositionTexts.size(); ++i) {
        // Whole texts only, as the list offers them; case does not matter.
        if (SameWord(text, PositionTexts[i]))
            return static_cast<int>(i);
        names.push_back('"' + std::string(PositionTexts[i]) + '"');
    }
    throw EUsage(Format("\"%1\" is not a position; use 0 to %2 or one of %3", Quoted(text), last, Join(names, ", ")));
}

// A decimal number of digits with an optional fraction ("210", "210.5").
std::optional<double> PlainNumber(std::string_view text)
{
    const std::size_t dot = text.find('.');
    if (!AllDigits(text.substr(0, dot)) || (dot != std::string_view::npos && !AllDigits(text.substr(dot + 1))))
        return std::nullopt;
    return DoubleFromText(text);
}

// A4, Letter or WIDTHxLENGTH in mm, portrait, with no margins.
DeviceSettings ParseSheet(const std::string& text)
{
    if (SameWord(text, "A4"))
        return A4CutterSheet();
    if (SameWord(text, "Letter"))
        return LetterCutterSheet();
    const FieldLimits width = LimitsOf(CutterField::SheetWidth), length = LimitsOf(CutterField::SheetLength);
    std::string_view size = text;
    if (size.ends_with("mm"))
        size.remove_suffix(2);
    if (const std::size_t x = size.find_first_of("xX"); x != std::string_view::npos) {
        const std::optional<double> w = PlainNumber(size.substr(0, x)), l = PlainNumber(size.substr(x + 1));
        if (w && l) {
            const DeviceSettings sheet = CustomCutterSheet(*w, *l);
            if (sheet.PaperWidthMm >= width.Low && sheet.PaperWidthMm <= width.High && sheet.PaperHeightMm >= length.Low
                && sheet.PaperHeightMm <= length.High)
                return sheet;
        }
    }
    throw EUsage(Format("\"%1\" is not a sheet; use A4, Letter or WIDTHxLENGTH in mm (width %2 to %3, length %4 to %5)",
                        Quoted(text), width.Low, width.High, length.Low, length.High));
}

// One number, with its unit or without.
std::optional<double> NumberWithUnit(std::string_view text, std::string_view unit)
{
    std::string number = Trimmed(text);
    if (EndsWithWord(number, unit))
        number.resize(number.size() - unit.size());
    const std::optional<double> value = DoubleFromText(number);
    if (!value || !std::isfinite(*value))
        return std::nullopt;
    return value;
}

// Numbers of a list "A[,B]", each with an optional unit; one number stands
// for both.
std::pair<double, double> ParsePair(const std::string& text, std::string_view option, std::string_view unit)
{
    const std::vector<std::string> parts = Split(text, ',');
    double values[2] = {0, 0};
    bool ok = parts.size() == 1 || parts.size() == 2;
    for (std::size_t i = 0; ok && i < parts.size(); ++i) {
        const std::optional<double> value = NumberWithUnit(parts[i], unit);
        ok = value.has_value();
        values[i] = value.value_or(0);
    }
    if (!ok)
        throw EUsage(Format("\"%1\" is not a value for --%2; use X%3 or X%3,Y%3", Quoted(text), option, unit));
    return {values[0], parts.size() == 2 ? values[1] : values[0]};
}

double ParseMm(const std::string& text, std::string_view option)
{
    if (const std::optional<double> value = NumberWithUnit(text, "mm"))
        return *value;
    throw EUsage(
        Format("\"%1\" is not a value for --%2; it takes one length in mm, such as 1.5", Quoted(text), option));
}

// Every unknown option named whole; a long one, or a hundred of them, are
// cut short.
std::string ParserError(const OptionError& error)
{
    if (error.Unknown.empty())
        return Quoted(error.Problem);
    constexpr std::size_t Shown = 5;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < std::min(Shown, error.Unknown.size()); ++i)
        names.push_back('\'' + Quoted(error.Unknown[i]) + '\'');
    if (error.Unknown.size() > Shown)
        names.push_back(Format("and %1 more", error.Unknown.size() - Shown));
    return (error.Unknown.size() == 1 ? "Unknown option " : "Unknown options: ") + Join(names, ", ");
}

// The corrections asked for on the command line; each unset one keeps the
// device's.
struct CorrectionChoices {
    std::optional<std::pair<double, double>> ScalePercent;
    std::optional<std::pair<double, double>> MeasuredMm;
    std::optional<double> BladeOffsetMm;
    std::optional<double> OvercutMm;
    std::optional<CutOrderMode> Order;
    std::optional<double> WeedBoxMm;
    std::optional<SquareMeasurement> MeasuredSquare;
    std::optional<double> SkewDeg;
    std::optional<double> Force;
    std::optional<double> Speed;
    bool Save = false;
};

struct Request {
    std::string Device;
    std::optional<SendAs> Language;
    std::optional<DeviceSettings> Sheet;
    int Position = TopLeft;
    std::string Output;
    bool Replace = false;
    bool Wait = false;
    int WaitLimitSeconds = DefaultWaitLimitSeconds; // 0: no limit
    bool Quiet = false;
    std::string PlotFile;
    std::vector<int> Pens; // every pen when empty
    std::optional<PortSettings> Line;
    bool Cut = false;
    CalibrationCut Pattern;
    CorrectionChoices Corrections;
    bool Verbose = false;
    // Talking with the cutter on a port instead of cutting.
    bool Identify = false;
    bool CheckLine = false;
    std::chrono::milliseconds AnswerLimit = ::AnswerLimit;
};

std::string VersionText()
{
    return Format("%1 %2\n", ApplicationTitle, VELLICO_VERSION);
}

// What the command line takes, as --help lists it.
const std::vector<OptionSpec>& Options()
{
    static const std::vector<OptionSpec> table = {
        {"help", 'h', "", "Displays help on commandline options."},
        {"help-all", 0, "", "The same as --help."},
        {"version", 'v', "", "Displays version information."},
        {"cut", 0, "", "Cut the sample (or PLOTFILE)."},
        {"device", 0, "NAME",
         Format("Printer or cutter queue, or a port: %1 (default: the active device).",
                std::string(TheSystemNames().Ports))},
        {"position", 0, "INDEX|TEXT",
         "Place on the sheet: 0 to 8, or a text of the window's list such as \"Centered\" (default: \"Top left\")."},
        {"send-as", 0, "LANGUAGE", "driver, hpgl, dmpl, gpgl or camm (default: the device's)."},
        {"sheet", 0, "SHEET", "A4, Letter or WIDTHxLENGTH in mm, portrait (default: the device's)."},
        {"output", 0, "FILE",
         Format("Write the job to FILE (\"-\": standard output) instead of sending it to the device. A file is "
                "written whole or not at all, and an existing one only replaced with --replace; %1.",
                std::string(TheSystemNames().OutputDevices))},
        {"replace", 0, "", "Replace an existing --output file."},
        {"wait", 0, "",
         "Wait until the queue has printed the job; fail with the server's reason when it is aborted or canceled "
         "or the queue stops."},
        {"quiet", 0, "", "No progress line on the terminal while the job is sent."},
        {"pens", 0, "LIST",
         "Cut only the lines of these pens of PLOTFILE (SP), such as 2 or 1,3 (default: every pen; a file in the "
         "sample's layout is pen 1)."},
        {"port-settings", 0, "LINE",
         Format("For a cutter on a port (--device %1): SPEED,BITS,PARITY,STOP,FLOW such as 9600,8,N,1,xonxoff; FLOW "
                "is none, xonxoff, rtscts or query (ask the cutter its free buffer space before each block: HPGL "
                "and CAMM-GL) (default: the port's).",
                std::string(TheSystemNames().ExamplePort))},
        {"pattern", 0, "PATTERN",
         "What to cut: sample, scale (two lines to measure), ladder (squares at stepped blade offsets), test-cut, "
         "square (a rectangle to square the axes by) or grid (squares in rows of forces and columns of speeds) "
         "(default: sample)."},
        {"length", 0, "MM", "Length of the scale lines in mm, from 50 to what the sheet takes (default: 200)."},
        {"offsets", 0, "FROM:TO:STEP", "The ladder's blade offsets in mm (default: 0:0.5:0.05)."},
        {"forces", 0, "FROM:TO:STEP",
         "The grid's rows: forces in the cutter language's units, such as 2:10:2 (without it, every row is the "
         "device's force); at most 25 cells in all."},
        {"speeds", 0, "FROM:TO:STEP",
         "The grid's columns: speeds in the cutter language's units (without it, every column is the device's "
         "speed)."},
        {"scale", 0, "X%[,Y%]", "Scale correction along x and y, 25% to 400%; one value for both."},
        {"measured", 0, "XMM[,YMM]",
         "The scale lines as measured (cut with the device's current corrections and --length); sets the scale "
         "that makes them true."},
        {"measured-square", 0, "W,H,A,B",
         "The square pattern as measured (cut with the device's current corrections): its sides along x and y and "
         "its diagonals A (one tick at each end) and B (two ticks), in mm; sets the scale and the skew that make "
         "it square."},
        {"skew", 0, "DEG", "Skew correction: how far the cutter's y axis leans from square, -2 to 2 degrees."},
        {"blade-offset", 0, "MM", "Drag knife blade offset, 0 (off) to 1.5 mm."},
        {"overcut", 0, "MM", "Cut closed shapes again past their start, 0 to 5 mm."},
        {"force", 0, "N",
         "Knife force sent at the start of each job, in the language's units: HPGL FS 1 to 400, DMPL BP 1 to 400 "
         "(g), GP-GL FX 1 to 31; CAMM-GL has no command; 0: the cutter's own (default: the device's)."},
        {"speed", 0, "N",
         "Cutting speed sent at the start of each job: HPGL VS 1 to 96 (cm/s), DMPL V 1 to 99, GP-GL ! 1 to 10; "
         "CAMM-GL has no command; 0: the cutter's own (default: the device's)."},
        {"order", 0, "ORDER",
         "Order of the cuts: drawn (as the plot has them) or optimised (shapes inside others first, then the "
         "nearest, with the least travel) (default: the device's)."},
        {"weed-box", 0, "MM",
         "Cut a box this far outside the plot, last, to weed by: 0 (none) to 50 mm (default: the device's)."},
        {"verbose", 0, "",
         "With --order optimised: tell the pen-up travel as drawn and as cut; with --identify: the bytes sent and "
         "received."},
        {"identify", 0, "",
         "Ask the cutter on a port (--device) what its language can ask: its model, buffer size, free space, status "
         "and last error; print each answer and its meaning. Nothing is cut."},
        {"check-line", 0, "",
         "Check the line to the cutter on a port (--device) by asking it: one sentence on what is wrong, and exit "
         "status 0 only when the line is sound. Sends nothing that moves the knife."},
        {"answer-limit", 0, "SECONDS",
         "With --identify or --check-line: how long each question waits for its answer, 0.1 to 60 (default: 2)."},
        {"save", 0, "",
         "Keep the corrections for the device (without it they apply to this cut only); with no --cut, only keeps "
         "them."},
        {"wait-limit", 0, "SECONDS",
         Format("With --wait: give up after SECONDS, leaving the job in the queue (default: %1; 0: no limit). A "
                "stopped queue or a server that cannot be reached is told while waiting.",
                DefaultWaitLimitSeconds)},
    };
    return table;
}

std::string HelpText()
{
    return OptionsHelp("vellico-output-test",
                       "Cuts the test sample (or PLOTFILE) on a cutter without opening the window.\n"
                       "Prints nothing on success; on failure the reason goes to standard error.",
                       Options(),
                       {{"[PLOTFILE]", "Plot to cut instead of the sample: an HPGL file, 40 plotter units per mm. A "
                                       "file whose every PU or PD line is \"PU<X> <Y>;\" (the sample's own layout) "
                                       "is read in thousandths of an inch."}});
}

// The request the arguments make; nullopt when help or version was printed.
std::optional<Request> Parse(const std::vector<std::string>& args, std::ostream& out)
{
    ParsedOptions parser;
    try {
        parser = ParseOptions(Options(), args);
    } catch (const OptionError& error) {
        throw EUsage(ParserError(error));
    }
    if (parser.IsSet("help") || parser.IsSet("help-all")) {
        out << HelpText();
        return std::nullopt;
    }
    if (parser.IsSet("version")) {
        out << VersionText();
        return std::nullopt;
    }
    const int tasks = parser.IsSet("cut") + parser.IsSet("identify") + parser.IsSet("check-line");
    if (tasks == 0 && !parser.IsSet("save"))
        throw EUsage("Nothing to do without --cut, --save, --identify or --check-line");
    if (tasks > 1 || (tasks == 1 && !parser.IsSet("cut") && parser.IsSet("save")))
        throw EUsage("Give one of --cut (with or without --save), --identify and --check-line");
    const std::vector<std::string>& files = parser.Arguments();
    if (files.size() > 1)
        throw EUsage("Only one plot file can be cut at a time");
    if (parser.IsSet("replace") && !parser.IsSet("output"))
        throw EUsage("--replace is for --output");

    Request r;
    r.Device = parser.Value("device");
    if (parser.IsSet("device") && r.Device.empty())
        throw EUsage("--device needs a name");
    if (parser.IsSet("send-as"))
        r.Language = ParseSendAs(parser.Value("send-as"));
    if (parser.IsSet("sheet"))
        r.Sheet = ParseSheet(parser.Value("sheet"));
    if (parser.IsSet("position"))
        r.Position = ParsePosition(parser.Value("position"));
    r.Output = parser.Value("output");
    if (parser.IsSet("output") && r.Output.empty())
        throw EUsage("--output needs a file name, or - for standard output");
    r.Replace = parser.IsSet("replace");
    r.Wait = parser.IsSet("wait");
    if (parser.IsSet("wait-limit")) {
        if (!r.Wait)
            throw EUsage("--wait-limit is for --wait");
        const std::string limit = parser.Value("wait-limit");
        const std::optional<int> seconds = AllDigits(limit) ? IntFromText(limit) : std::nullopt;
        if (!seconds)
            throw EUsage(
                Format("\"%1\" is not a time for --wait-limit; use whole seconds, 0 for no limit", Quoted(limit)));
        r.WaitLimitSeconds = *seconds;
    }
    r.Quiet = parser.IsSet("quiet");
    r.PlotFile = files.empty() ? std::string() : files.front();
    if (parser.IsSet("pens")) {
        if (r.PlotFile.empty())
            throw EUsage("--pens chooses lines of a plot file; name the file");
        const auto chosen = PensFromText(parser.Value("pens"));
        if (!chosen)
            throw EUsage(
                Format("\"%1\" is not a list of pens; use pen numbers such as 2 or 1,3", Quoted(parser.Value("pens"))));
        r.Pens = *chosen;
    }
    if (parser.IsSet("port-settings")) {
        std::string wrong;
        r.Line = ParsePortSettings(parser.Value("port-settings"), &wrong);
        if (!r.Line)
            throw EUsage(Format("\"%1\" is not a port setting: %2; use SPEED,BITS,PARITY,STOP,FLOW such as "
                                "9600,8,N,1,xonxoff",
                                Quoted(parser.Value("port-settings")), wrong));
    }
    r.Cut = parser.IsSet("cut");
    if (parser.IsSet("pattern")) {
        const auto chosen = PatternFromWord(parser.Value("pattern"));
        if (!chosen)
            throw EUsage(Format("Unknown pattern \"%1\"; use sample, scale, ladder, test-cut, square or grid",
                                Quoted(parser.Value("pattern"))));
        if (!r.PlotFile.empty())
            throw EUsage("Cut either a pattern or a plot file");
        r.Pattern.Pattern = *chosen;
    }
    if (parser.IsSet("length")) {
        if (r.Pattern.Pattern != CalibrationPattern::Scale && !parser.IsSet("measured"))
            throw EUsage("--length is for --pattern scale and --measured");
        r.Pattern.LengthMm = ParseMm(parser.Value("length"), "length");
        if (!(r.Pattern.LengthMm >= MinScaleLengthMm))
            throw EUsage(Format("--length takes %1 mm or more", MinScaleLengthMm));
    }
    try {
        if (parser.IsSet("offsets")) {
            if (r.Pattern.Pattern != CalibrationPattern::Ladder)
                throw EUsage("--offsets is for --pattern ladder");
            r.Pattern.Offsets = ParseLadderSteps(parser.Value("offsets"));
            LadderOffsets(r.Pattern.Offsets);
        }
        for (const auto& [option, steps] :
             {std::pair("forces", &r.Pattern.Forces), std::pair("speeds", &r.Pattern.Speeds)}) {
            if (!parser.IsSet(option))
                continue;
            if (r.Pattern.Pattern != CalibrationPattern::Grid)
                throw EUsage(Format("--%1 is for --pattern grid", option));
            *steps = ParseToolSteps(parser.Value(option), option);
            ToolStepValues(*steps, option);
        }
    } catch (const EConvertError& e) {
        throw EUsage(e.Message());
    }
    CorrectionChoices& c = r.Corrections;
    if (parser.IsSet("scale") && parser.IsSet("measured"))
        throw EUsage("Give either --scale or --measured");
    if (parser.IsSet("scale"))
        c.ScalePercent = ParsePair(parser.Value("scale"), "scale", "%");
    if (parser.IsSet("measured"))
        c.MeasuredMm = ParsePair(parser.Value("measured"), "measured", "mm");
    if (parser.IsSet("blade-offset"))
        c.BladeOffsetMm = ParseMm(parser.Value("blade-offset"), "blade-offset");
    if (parser.IsSet("overcut"))
        c.OvercutMm = ParseMm(parser.Value("overcut"), "overcut");
    if (parser.IsSet("order")) {
        c.Order = CutOrderFromWord(parser.Value("order"));
        if (!c.Order)
            throw EUsage(
                Format("Unknown order \"%1\" for --order; use drawn or optimised", Quoted(parser.Value("order"))));
    }
    if (parser.IsSet("weed-box"))
        c.WeedBoxMm = ParseMm(parser.Value("weed-box"), "weed-box");
    if (parser.IsSet("measured-square")) {
        if (c.ScalePercent || c.MeasuredMm || parser.IsSet("skew"))
            throw EUsage("Give either --measured-square or --scale, --measured and --skew");
        const std::string text = parser.Value("measured-square");
        const std::vector<std::string> parts = Split(text, ',');
        std::vector<double> lengths;
        for (const std::string& part : parts)
            if (const std::optional<double> value = NumberWithUnit(part, "mm"))
                lengths.push_back(*value);
        if (parts.size() != 4 || lengths.size() != 4)
            throw EUsage(
                Format("\"%1\" is not a value for --measured-square; use WIDTH,HEIGHT,A,B in mm", Quoted(text)));
        c.MeasuredSquare = SquareMeasurement{lengths[0], lengths[1], lengths[2], lengths[3]};
    }
    if (parser.IsSet("skew")) {
        const std::string text = parser.Value("skew");
        c.SkewDeg = NumberWithUnit(text, "deg");
        if (!c.SkewDeg)
            throw EUsage(
                Format("\"%1\" is not a value for --skew; it takes one angle in degrees, such as 0.3", Quoted(text)));
    }
    for (const auto& [option, value] : {std::pair("force", &c.Force), std::pair("speed", &c.Speed)}) {
        if (!parser.IsSet(option))
            continue;
        const std::string text = parser.Value(option);
        *value = IntFromText(text);
        if (!*value || **value < 0)
            throw EUsage(Format("\"%1\" is not a value for --%2; it takes a whole number in the cutter language's "
                                "units, 0 for the cutter's own",
                                Quoted(text), option));
    }
    r.Verbose = parser.IsSet("verbose");
    r.Identify = parser.IsSet("identify");
    r.CheckLine = parser.IsSet("check-line");
    if (parser.IsSet("answer-limit")) {
        const std::string text = parser.Value("answer-limit");
        const std::optional<double> seconds = NumberWithUnit(text, "s");
        if (!r.Identify && !r.CheckLine)
            throw EUsage("--answer-limit is for --identify and --check-line");
        if (!seconds || *seconds < 0.1 || *seconds > 60)
            throw EUsage(
                Format("\"%1\" is not a time for --answer-limit; use seconds from 0.1 to 60, such as 2", Quoted(text)));
        r.AnswerLimit = std::chrono::milliseconds(std::lround(*seconds * 1000));
    }
    c.Save = parser.IsSet("save");
    if (c.Save && !c.ScalePercent && !c.MeasuredMm && !c.BladeOffsetMm && !c.OvercutMm && !c.Order && !c.WeedBoxMm
        && !c.MeasuredSquare && !c.SkewDeg && !c.Force && !c.Speed)
        throw EUsage("--save keeps corrections: give --scale, --measured, --measured-square, --skew, --blade-offset, "
                     "--overcut, --order, --weed-box, --force or --speed");
    if (!r.Cut && (parser.IsSet("pattern") || !r.PlotFile.empty() || parser.IsSet("output") || r.Wait))
        throw EUsage("Nothing is cut without --cut");
    return r;
}

// The device's corrections with the request's in their place; the scale
// from measured lines is composed with the current one, which the measured
// cut had, and so are the scale and skew from a measured square, cut on
// this sheet. A force or speed asked for must fit each of toolLanguages
// (the one it is sent in, the one it is kept for), told in that language's
// range. Throws EUsage for values out of range.
CutterCorrections ChosenCorrections(CutterCorrections c, const Request& r, const DeviceSettings& sheet,
                                    const std::vector<SendAs>& toolLanguages)
{
    const CorrectionChoices& choice = r.Corrections;
    try {
        // Only what is asked here: a device's kept value out of the language
        // chosen for one cut fails that cut when its job is drawn.
        for (const SendAs language : toolLanguages)
            if (std::string problem =
                    ToolSettingProblem(language, {choice.Force.value_or(0), choice.Speed.value_or(0)});
                !problem.empty())
                throw EConvertError(std::move(problem));
        if (choice.ScalePercent) {
            c.ScaleXPercent = choice.ScalePercent->first;
            c.ScaleYPercent = choice.ScalePercent->second;
        }
        if (choice.MeasuredMm)
            c = WithMeasuredScale(c, r.Pattern.LengthMm, choice.MeasuredMm->first, choice.MeasuredMm->second);
        c.BladeOffsetMm = choice.BladeOffsetMm.value_or(c.BladeOffsetMm);
        c.OvercutMm = choice.OvercutMm.value_or(c.OvercutMm);
        c.Order = choice.Order.value_or(c.Order);
        c.WeedBoxMm = choice.WeedBoxMm.value_or(c.WeedBoxMm);
        c.SkewDeg = choice.SkewDeg.value_or(c.SkewDeg);
        c.Force = choice.Force.value_or(c.Force);
        c.Speed = choice.Speed.value_or(c.Speed);
        if (choice.MeasuredSquare) {
            const auto [width, height] = SquarePatternSizeMm(sheet);
            c = WithMeasuredSquare(c, width, height, *choice.MeasuredSquare,
                                   SheetToCutterSkewSign(sheet.Rotate90, sheet.MirrorX, sheet.MirrorY));
        }
        return CheckedCorrections(c);
    } catch (const EConvertError& e) {
        throw EUsage(e.Message());
    }
}

// "as HPGL", "through the printer driver".
std::string SentAs(SendAs language)
{
    return language == SendAs::Driver ? "through the printer driver" : "as " + std::string(LanguageName(language));
}

// The device the job is for, with its remembered or default settings.
std::pair<DeviceIdentity, DeviceSettings> NamedDevice(const std::string& name)
{
    auto found = FindDevice(name);
    if (found) {
        if (auto remembered = RememberedSettings(found->first.Device, found->second))
            found->second = *remembered;
        return *found;
    }
    throw EPrinter(Format("There is no printer named \"%1\"", Quoted(name)));
}

std::pair<DeviceIdentity, DeviceSettings> ActiveDevice(bool toFile)
{
    DeviceIdentity identity;
    DeviceSettings settings;
    try {
        Printer().GetPrinter(identity, settings);
    } catch (const Exception&) {
        if (!toFile)
            throw;
        // A file needs no device: without one the job is drawn on A4.
        return {DeviceIdentity{}, DefaultSettings(std::string())};
    }
    return {identity, settings};
}

// The device's own paper of the sheet's size, for a job through its driver.
DeviceSettings DriverPaper(const std::string& device, const DeviceSettings& sheet, bool mustExist)
{
    if (device.empty())
        return sheet;
    const std::vector<DeviceSettings> papers = SupportedPapers(device);
    if (const DeviceSettings* paper = DriverPaperOfSize(papers, sheet))
        return *paper;
    if (!mustExist)
        return DefaultSettings(device);
    if (papers.empty())
        return sheet; // the device lists no papers; the driver decides
    throw EPrinter(Format("The printer \"%1\" has no %2 x %3 mm paper; choose one of its papers or a cutter "
                          "language with --send-as",
                          device, sheet.PaperWidthMm, sheet.PaperHeightMm));
}

// Language and sheet as asked, the way Print Setup changes them (the sheet
// and the force and speed the language takes); a sheet asked for is taken
// instead, for a driver as one of the device's own papers.
void ApplyChoices(const std::string& device, DeviceSettings& s, const Request& r)
{
    const DeviceKind kind = DeviceKindOf(device);
    if (kind != DeviceKind::Queue) {
        if (r.Language && !OffersLanguage(kind, *r.Language))
            throw EUsage("A cutter on a port takes a cutter language: hpgl, dmpl, gpgl or camm");
        s.Line = r.Line.value_or(s.Line);
        s.Language = PortLanguage(s);
    } else if (r.Line) {
        throw EUsage(Format("--port-settings is for a cutter on a port, such as --device %1",
                            std::string(TheSystemNames().ExamplePort)));
    }
    const SendAs language = r.Language.value_or(s.Language);
    std::function<DriverPapers()> driverPapers;
    if (!r.Sheet && !device.empty())
        driverPapers = [&device] { return DriverPapers{SupportedPapers(device), DefaultSettings(device)}; };
    ChangeLanguage(s, language, driverPapers);
    if (r.Sheet) {
        TakeSheet(s, language == SendAs::Driver ? DriverPaper(device, *r.Sheet, true) : *r.Sheet);
        s.Landscape = false;
    }
    // Refused before anything is drawn or sent.
    if (const std::string problem = LineProblem(s.Language, s.Line);
        kind != DeviceKind::Queue && r.Output.empty() && !problem.empty())
        throw EUsage(problem);
}

// The job's progress on one line of a terminal's standard error, a few

// The job's progress on one line of a terminal's standard error, a few
// times a second while it is sent, wiped when it ends (before any message).
class ProgressLine {
public:
    ProgressLine() : FTicker([this](std::stop_token stop) { Run(stop); }) {}
    ~ProgressLine()
    {
        FTicker.request_stop();
        FTicker.join();
    }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

private:
    void Run(std::stop_token stop)
    {
        bool shown = false;
        std::unique_lock lock(FMutex);
        for (;;) {
            FWake.wait_for(lock, stop, std::chrono::milliseconds(250), [] { return false; });
            if (stop.stop_requested())
                break;
            const JobProgress p = CurrentJobProgress();
            if (!p.Sending)
                continue;
            WriteStandardError("\rSending: " + JobProgressText(p) + "\033[K");
            shown = true;
        }
        if (shown)
            WriteStandardError("\r\033[K");
    }

    std::mutex FMutex;
    std::condition_variable_any FWake;
    std::jthread FTicker;
};

// The server's words, without the code the window shows on the line before.
std::string LastLine(const std::string& text)
{
    const std::size_t newline = text.rfind('\n');
    return newline == std::string::npos ? text : text.substr(newline + 1);
}

// Follows the job as the window's status does, until it ends or the queue
// stops with it. A queue stopped by hand and a server that cannot be asked
// may both pass, and are waited out, each reason told once as it comes;
// past the limit the job is left to the queue.
void WaitForJob(const HandedJob& job, int limitSeconds, const std::function<void(const std::string&)>& note)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const std::string what = Format("the job %1 on %2", job.Id, job.Device);
    std::string reason, told;
    bool reached = true;
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const bool wasReached = reached;
        TJobOutcome outcome;
        try {
            outcome = FollowJob(job);
            reason = outcome.Reason;
            reached = true;
        } catch (const EOSError& e) {
            if (e.ErrorCode() != SpoolerUnavailableCode)
                throw;
            reason = LastLine(e.Message());
            reached = false;
        }
        if (outcome.State == TJobOutcome::Completed)
            return;
        if (outcome.State != TJobOutcome::OnItsWay)
            throw EPrinter(outcome.Message);
        // Each new reason once; a server out of reach once, whatever the
        // failures it gives on the way.
        if (reached || wasReached) {
            if (!reason.empty() && reason != told)
                note(Format("Still waiting for %1: %2", what, reason));
            told = reason;
        }
        if (limitSeconds > 0 && Clock::now() - start >= std::chrono::seconds(limitSeconds)) {
            std::string message = Format("Gave up after %1 s waiting for %2", limitSeconds, what);
            if (reached)
                message += ", which the queue still holds";
            throw EPrinter(reason.empty() ? message : message + ": " + reason);
        }
    }
}

// The pen-up travel of the job just cut, as its ordering found it.
std::string TravelNotice(const OrderTravel& travel)
{
    return Format("Pen-up travel: %1 mm as drawn, %2 mm as cut", FixedNumber(travel.BeforeMm, 1),
                  FixedNumber(travel.AfterMm, 1));
}

// Cuts as asked; what the user is to be told of the plot file read and of a
// plot cut only in part.
std::vector<std::string> Cut(const Request& r, const std::function<void(const std::string&)>& note)
{
    const bool toFile = !r.Output.empty();
    auto [identity, settings] = r.Device.empty() ? ActiveDevice(toFile) : NamedDevice(r.Device);
    const DeviceSettings kept = settings;
    ApplyChoices(identity.Device, settings, r);
    // --save keeps the corrections, not the language: the force and the
    // speed are kept in the units of the language the device is set to.
    const SendAs keptLanguage = IsPortDevice(identity.Device) ? PortLanguage(kept) : kept.Language;
    const CorrectionChoices& asked = r.Corrections;
    const bool otherLanguage = asked.Save && settings.Language != keptLanguage;
    if (otherLanguage && r.Cut && (asked.Force || asked.Speed))
        throw EUsage(Format("The force and the speed cannot be sent %1 and kept for \"%2\" %3, in other units: cut "
                            "and save them apart",
                            SentAs(settings.Language), Quoted(identity.Device), SentAs(keptLanguage)));
    std::vector<SendAs> toolLanguages;
    if (r.Cut)
        toolLanguages.push_back(settings.Language);
    if (asked.Save)
        toolLanguages.push_back(keptLanguage);
    settings.Corrections = ChosenCorrections(settings.Corrections, r, settings, toolLanguages);
    // What --save keeps: a force and a speed not asked for here as they were
    // kept, in the units of the device's own language.
    const ToolSetting keptTools{asked.Force ? 0 : kept.Corrections.Force, asked.Speed ? 0 : kept.Corrections.Speed};
    CutterCorrections keptCorrections = settings.Corrections;
    keptCorrections.Force = asked.Force.value_or(keptTools.Force);
    keptCorrections.Speed = asked.Speed.value_or(keptTools.Speed);
    // What the job (or the device's jobs, for a save) goes without: said,
    // not passed over, whether asked for here or kept.
    std::vector<std::string> unsent;
    if (otherLanguage)
        unsent.push_back(Format("Kept for \"%1\", which is set to %2: --send-as %3 is not kept",
                                Quoted(identity.Device), LanguageName(keptLanguage), SendAsWord(settings.Language)));
    if (std::string leftOut = LeftOutCorrectionsNotice(r.Cut ? settings.Language : keptLanguage, keptCorrections);
        !leftOut.empty())
        unsent.push_back(std::move(leftOut));
    // A kept force or speed on another scale than the cut's language: the
    // cut is refused, as one out of its range is, before anything is sent.
    if (const std::string reason = OtherUnitsReason(keptLanguage, settings.Language, keptTools);
        r.Cut && !reason.empty())
        throw EConvertError(Format("The cut cannot take the force and the speed kept for \"%1\": %2; give them for "
                                   "it with --force and --speed (0 leaves the cutter's own)",
                                   Quoted(identity.Device), reason));
    // The plot before any job or setting is kept: a bad file must leave
    // nothing behind. Read for the chosen sheet, which it may scale to.
    TPLT plot;
    std::vector<std::string> notices;
    if (!r.PlotFile.empty()) {
        notices = ReadPlotFile(plot, r.PlotFile, r.Pens, SheetOf(settings));
        if (plot.NPolygons() == 0)
            throw EFileError(NothingToCutMessage(r.PlotFile));
    }
    // Everything is checked before anything is kept or cut.
    std::vector<double> pathOffsets;
    if (r.Cut && r.PlotFile.empty() && r.Pattern.Pattern != CalibrationPattern::Sample) {
        try {
            PatternPlot(r.Pattern, settings, pathOffsets);
        } catch (const EConvertError& e) {
            throw EUsage(e.Message());
        }
    }
    std::optional<DeviceSettings> toKeep;
    if (r.Corrections.Save) {
        if (identity.Device.empty())
            throw EUsage("--save keeps corrections for a device; name it with --device");
        toKeep = kept;
        toKeep->Corrections = keptCorrections;
    }
    notices.insert(notices.end(), unsent.begin(), unsent.end());
    if (!r.Cut) {
        SaveSettings(identity.Device, *toKeep);
        return notices;
    }
    const PrintRequest request{{identity, settings, r.Output, r.Replace}, r.Position};
    std::optional<ProgressLine> progress;
    if (!r.Quiet && StandardErrorIsTerminal())
        progress.emplace();
    TakeOrderTravel(); // not an earlier job's
    const PrintResult result = r.PlotFile.empty() ? PrintPattern(r.Pattern, request) : PrintPlot(plot, request);
    const std::optional<OrderTravel> travel = TakeOrderTravel();
    progress.reset();
    // A signal from here on ends the program as it would any other; one
    // caught before was the user's wish to stop, though the job went whole.
    ReleaseStopSignals();
    if (CaughtStopSignal() != 0)
        throw EPrinter("Stopped by a signal after the whole job had been sent");
    // A file or a port is done when written; only a queue's job has more to go.
    if (r.Wait && result.Job.Id > 0)
        WaitForJob(result.Job, r.WaitLimitSeconds, note);
    // Kept only once the cut they were asked with has gone well.
    if (toKeep)
        SaveSettings(identity.Device, *toKeep);
    if (std::string leftOut = LeftOutNotice(result.Share); !leftOut.empty())
        notices.push_back(std::move(leftOut));
    if (r.Verbose && travel)
        notices.push_back(TravelNotice(*travel));
    return notices;
}

// The port a question is for, with its kept line and language and the
// request's in their place. A queue is refused before any server is asked.
std::pair<DeviceIdentity, DeviceSettings> PortToAsk(const Request& r)
{
    if (!r.Device.empty() && !IsPortDevice(r.Device))
        throw EPrinter(NotAPortToAsk(r.Device));
    auto [identity, settings] = r.Device.empty() ? ActiveDevice(false) : NamedDevice(r.Device);
    if (!IsPortDevice(identity.Device))
        throw EPrinter(NotAPortToAsk(identity.Device));
    ApplyChoices(identity.Device, settings, r);
    return {identity, settings};
}

// --identify and --check-line, on standard output; a line that is not sound
// (or a cutter that answers nothing) throws its sentence.
void Talk(const Request& r, std::ostream& out)
{
    const auto [identity, settings] = PortToAsk(r);
    if (r.CheckLine) {
        const LineCheck check = CheckCutterLine(identity.Device, settings, r.AnswerLimit);
        if (check.Verdict != LineVerdict::Sound)
            throw EPrinter(check.Sentence);
        out << check.Sentence << '\n';
        return;
    }
    const SendAs language = PortLanguage(settings);
    const std::vector<CutterAnswer> answers = IdentifyCutter(identity.Device, settings, r.AnswerLimit);
    for (const std::string& line : AnswerLines(language, answers, r.Verbose))
        out << line << '\n';
    const bool answered = std::any_of(answers.begin(), answers.end(), [](const CutterAnswer& a) {
        return a.Shape != CutterAnswer::Kind::NoAnswer && a.Shape != CutterAnswer::Kind::Missing;
    });
    if (!answered)
        throw EPrinter(JudgeLine(language, answers, identity.Device, settings.Line, 0).Sentence);
}

// The report's words, one line ending each line (no CR before it).
std::string ReportText(const std::string& message)
{
    std::string text = ErrorReportText(message);
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

// Options of the window's toolkit (as "-name" or "--name"), which the window
// takes, and whether each takes the next argument as its value.
int ToolkitOptionLength(const char* arg, const char* next)
{
    static constexpr std::pair<const char*, bool> Options[] = {{"platform", true},
                                                               {"platformpluginpath", true},
                                                               {"platformtheme", true},
                                                               {"plugin", true},
                                                               {"qwindowgeometry", true},
                                                               {"geometry", true},
                                                               {"qwindowtitle", true},
                                                               {"title", true},
                                                               {"qwindowicon", true},
                                                               {"icon", true},
                                                               {"display", true},
                                                               {"style", true},
                                                               {"stylesheet", true},
                                                               {"session", true},
                                                               {"name", true},
                                                               {"reverse", false},
                                                               {"widgetcount", false},
                                                               {"nograb", false},
                                                               {"dograb", false},
                                                               {"sync", false}};
    if (arg[0] != '-')
        return 0;
    const char* word = arg[1] == '-' ? arg + 2 : arg + 1;
    if (std::strncmp(word, "qmljsdebugger=", 14) == 0)
        return 1;
    for (const auto& [name, valued] : Options)
        if (std::strcmp(word, name) == 0)
            return valued && next ? 2 : 1;
    return 0;
}

} // namespace

bool WantsCommandLine(int argc, char** argv)
{
    // Any argument but the toolkit's own is for the command line, so a
    // mistyped option is reported instead of opening a window that ignores it.
    for (int i = 1; i < argc && argv[i];) {
        const int toolkit = ToolkitOptionLength(argv[i], i + 1 < argc ? argv[i + 1] : nullptr);
        if (toolkit == 0)
            return true;
        i += toolkit;
    }
    return false;
}

int RunCommandLine(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    // Kept settings that cannot be used are said, and the cut goes on.
    const auto note = [&err](const std::string& text) { err << ReportText(text) << std::endl; };
    SetSettingsNoteHook(note);
    struct Unhook {
        ~Unhook() { SetSettingsNoteHook({}); }
    } unhook;
    try {
        const std::optional<Request> request = Parse(args, out);
        if (request && (request->Identify || request->CheckLine)) {
            Talk(*request, out);
            return 0;
        }
        // A plot cut only in part is still cut: told, not failed.
        for (const std::string& notice : request ? Cut(*request, note) : std::vector<std::string>())
            err << ReportText(notice) << '\n';
        return 0;
    } catch (const EUsage& e) {
        err << ReportText(e.Message()) << "\nTry \"vellico-output-test --help\" for the options.\n";
        return ExitUsage;
    } catch (...) {
        err << ReportText(CurrentExceptionMessage()) << '\n';
        return ExitFailed;
    }
}

int RunCommandLineProgram(int argc, char** argv)
{
    // Interrupted, a job ends as Stop ends it, and leaves no temporary file.
    CatchStopSignals();
    std::vector<std::string> args{argc > 0 && argv[0] ? argv[0] : "vellico-output-test"};
    for (int i = 1; i < argc && argv[i];) {
        const int toolkit = ToolkitOptionLength(argv[i], i + 1 < argc ? argv[i + 1] : nullptr);
        if (toolkit == 0)
            args.emplace_back(argv[i]);
        i += std::max(toolkit, 1);
    }
    const int code = RunCommandLine(args, std::cout, std::cerr);
    std::cout.flush();
    std::cerr.flush();
    return code;
}
