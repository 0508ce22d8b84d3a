#include "ui/CommandLine.h"

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "output/Calibration.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "output/Positions.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "platform/StopSignals.h"
#include "platform/serial/PortDevices.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "ui/ErrorText.h"
#include "ui/NativeFileName.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>

#include <unistd.h>

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// Arguments that make no sense: reported with a pointer to --help.
class EUsage : public Exception {
public:
    using Exception::Exception;
    explicit EUsage(const QString& message) : Exception(message.toStdString()) {}
};

// The core's text is UTF-8; a file name goes to it as its own bytes.
std::string Utf8(const QString& text)
{
    return text.toStdString();
}

QString FromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string FileBytes(const QString& name)
{
    return NativeFileName(name).toStdString();
}

// How long --wait waits unless told: the queue holds the job until the
// cutter has taken it, so the wait spans the whole cut and the jobs queued
// before it; an hour covers a long plot behind a few others, and still ends
// a script that nobody watches on the same day.
constexpr int DefaultWaitLimitSeconds = 3600;

// The Print Setup dialog's custom roll limits.
constexpr double MinSheetMm = 10;
constexpr double MaxSheetWidthMm = 5000;
constexpr double MaxSheetLengthMm = 50000;

SendAs ParseSendAs(const QString& word)
{
    if (const std::optional<SendAs> language = SendAsFromWord(Utf8(word)))
        return *language;
    throw EUsage(QStringLiteral("Unknown language \"%1\" for --send-as; use driver, hpgl, dmpl, gpgl or camm")
                     .arg(FromUtf8(Quoted(Utf8(word)))));
}

int ParsePosition(const QString& text)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    if (digits.match(text).hasMatch()) {
        bool ok = false;
        const int index = text.toInt(&ok);
        if (ok && index >= 0 && index < static_cast<int>(PositionTexts.size()))
            return index;
        throw EUsage(QStringLiteral("Position %1 is not in the list; use 0 to %2 or one of its texts")
                         .arg(FromUtf8(Quoted(Utf8(text))))
                         .arg(PositionTexts.size() - 1));
    }
    QStringList names;
    for (std::size_t i = 0; i < PositionTexts.size(); ++i) {
        const QString name =
            QString::fromLatin1(PositionTexts[i].data(), static_cast<qsizetype>(PositionTexts[i].size()));
        // Whole texts only, as the list offers them; case does not matter.
        if (text.compare(name, Qt::CaseInsensitive) == 0)
            return static_cast<int>(i);
        names << QLatin1Char('"') + name + QLatin1Char('"');
    }
    throw EUsage(QStringLiteral("\"%1\" is not a position; use 0 to %2 or one of %3")
                     .arg(FromUtf8(Quoted(Utf8(text))))
                     .arg(PositionTexts.size() - 1)
                     .arg(names.join(QStringLiteral(", "))));
}

// A4, Letter or WIDTHxLENGTH in mm, portrait, with no margins.
DeviceSettings ParseSheet(const QString& text)
{
    if (text.compare(QLatin1String("A4"), Qt::CaseInsensitive) == 0)
        return A4CutterSheet();
    if (text.compare(QLatin1String("Letter"), Qt::CaseInsensitive) == 0)
        return LetterCutterSheet();
    static const QRegularExpression size(QStringLiteral("^([0-9]+(?:\\.[0-9]+)?)[xX]([0-9]+(?:\\.[0-9]+)?)(?:mm)?$"));
    const QRegularExpressionMatch m = size.match(text);
    if (m.hasMatch()) {
        // Hundredths of a millimetre, as every other size in the program.
        const double width = std::round(m.captured(1).toDouble() * 100) / 100;
        const double length = std::round(m.captured(2).toDouble() * 100) / 100;
        if (width >= MinSheetMm && width <= MaxSheetWidthMm && length >= MinSheetMm && length <= MaxSheetLengthMm)
            return CutterSheet(Utf8(QStringLiteral("Custom.%1x%2mm").arg(width).arg(length)), width, length);
    }
    throw EUsage(QStringLiteral("\"%1\" is not a sheet; use A4, Letter or WIDTHxLENGTH in mm (width %2 to %3, "
                                "length %2 to %4)")
                     .arg(FromUtf8(Quoted(Utf8(text))))
                     .arg(MinSheetMm)
                     .arg(MaxSheetWidthMm)
                     .arg(MaxSheetLengthMm));
}

// Numbers of a list "A[,B]", each with an optional unit; one number stands
// for both.
std::pair<double, double> ParsePair(const QString& text, const QString& option, QLatin1String unit)
{
    const QStringList parts = text.split(QLatin1Char(','));
    double values[2] = {0, 0};
    bool ok = parts.size() == 1 || parts.size() == 2;
    for (qsizetype i = 0; ok && i < parts.size(); ++i) {
        QString part = parts[i].trimmed();
        if (part.endsWith(unit, Qt::CaseInsensitive))
            part.chop(unit.size());
        values[i] = part.toDouble(&ok);
        ok = ok && std::isfinite(values[i]);
    }
    if (!ok)
        throw EUsage(QStringLiteral("\"%1\" is not a value for --%2; use X%3 or X%3,Y%3")
                         .arg(FromUtf8(Quoted(Utf8(text))), option, unit));
    return {values[0], parts.size() == 2 ? values[1] : values[0]};
}

double ParseMm(const QString& text, const QString& option)
{
    QString number = text.trimmed();
    if (number.endsWith(QLatin1String("mm"), Qt::CaseInsensitive))
        number.chop(2);
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw EUsage(QStringLiteral("\"%1\" is not a value for --%2; it takes one length in mm, such as 1.5")
                         .arg(FromUtf8(Quoted(Utf8(text))), option));
    return value;
}

// QCommandLineParser's own words name every unknown option whole; a long
// one, or a hundred of them, are cut short.
QString ParserError(const QCommandLineParser& parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return FromUtf8(Quoted(Utf8(parser.errorText())));
    constexpr qsizetype Shown = 5;
    QStringList names;
    for (const QString& name : unknown.mid(0, Shown))
        names << QLatin1Char('\'') + FromUtf8(Quoted(Utf8(name))) + QLatin1Char('\'');
    if (unknown.size() > Shown)
        names << QStringLiteral("and %1 more").arg(unknown.size() - Shown);
    return (unknown.size() == 1 ? QStringLiteral("Unknown option ") : QStringLiteral("Unknown options: "))
           + names.join(QStringLiteral(", "));
}

// The corrections asked for on the command line; each unset one keeps the
// device's.
struct CorrectionChoices {
    std::optional<std::pair<double, double>> ScalePercent;
    std::optional<std::pair<double, double>> MeasuredMm;
    std::optional<double> BladeOffsetMm;
    std::optional<double> OvercutMm;
    bool Save = false;
};

struct Request {
    QString Device;
    std::optional<SendAs> Language;
    std::optional<DeviceSettings> Sheet;
    int Position = TopLeft;
    QString Output;
    bool Replace = false;
    bool Wait = false;
    int WaitLimitSeconds = DefaultWaitLimitSeconds; // 0: no limit
    bool Quiet = false;
    QString PlotFile;
    std::vector<int> Pens; // every pen when empty
    std::optional<PortSettings> Line;
    bool Cut = false;
    CalibrationCut Pattern;
    CorrectionChoices Corrections;
};

QString VersionText()
{
    return QStringLiteral("%1 %2\n").arg(QLatin1String(ApplicationTitle), QStringLiteral(VELLICO_VERSION));
}

// Fills r from the arguments; nullopt when help or version was printed.
std::optional<Request> Parse(const QStringList& args, QTextStream& out)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Cuts the test sample (or PLOTFILE) on a cutter without opening the window.\n"
                       "Prints nothing on success; on failure the reason goes to standard error."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption cut(QStringLiteral("cut"), QStringLiteral("Cut the sample (or PLOTFILE)."));
    const QCommandLineOption device(QStringLiteral("device"),
                                    QStringLiteral("Printer or cutter queue, or a port: a serial line "
                                                   "(/dev/ttyUSB0, /dev/ttyACM0, /dev/ttyS0) or a printer port "
                                                   "(/dev/usb/lp0, /dev/lp0); any other file is refused "
                                                   "(default: the active device)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption position(QStringLiteral("position"),
                                      QStringLiteral("Place on the sheet: 0 to 8, or a text of the window's list "
                                                     "such as \"Centered\" (default: \"Top left\")."),
                                      QStringLiteral("INDEX|TEXT"));
    const QCommandLineOption sendAs(QStringLiteral("send-as"),
                                    QStringLiteral("driver, hpgl, dmpl, gpgl or camm (default: the device's)."),
                                    QStringLiteral("LANGUAGE"));
    const QCommandLineOption sheet(QStringLiteral("sheet"),
                                   QStringLiteral("A4, Letter or WIDTHxLENGTH in mm, portrait (default: the "
                                                  "device's)."),
                                   QStringLiteral("SHEET"));
    const QCommandLineOption output(QStringLiteral("output"),
                                    QStringLiteral("Write the job to FILE (\"-\": standard output) instead of "
                                                   "sending it to the device. A file is written whole or not at "
                                                   "all, and an existing one only replaced with --replace; a pipe "
                                                   "or a device such as /dev/null is written as it is; a folder, "
                                                   "a disk or a socket is refused."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption replace(QStringLiteral("replace"), QStringLiteral("Replace an existing --output file."));
    const QCommandLineOption pens(QStringLiteral("pens"),
                                  QStringLiteral("Cut only the lines of these pens of PLOTFILE (SP), such as 2 or "
                                                 "1,3 (default: every pen; a file in the sample's layout is pen 1)."),
                                  QStringLiteral("LIST"));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait until the queue has printed the job; fail with the server's "
                                                 "reason when it is aborted or canceled or the queue stops."));
    const QCommandLineOption waitLimit(
        QStringLiteral("wait-limit"),
        QStringLiteral("With --wait: give up after SECONDS, leaving the job in the queue (default: %1; 0: no "
                       "limit). A stopped queue or a server that cannot be reached is told while waiting.")
            .arg(DefaultWaitLimitSeconds),
        QStringLiteral("SECONDS"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress line on the terminal while the job is sent."));
    const QCommandLineOption portSettings(
        QStringLiteral("port-settings"),
        QStringLiteral("For a cutter on a port (--device /dev/ttyUSB0): SPEED,BITS,PARITY,STOP,FLOW such as "
                       "9600,8,N,1,xonxoff; FLOW is none, xonxoff or rtscts (default: the port's)."),
        QStringLiteral("LINE"));
    const QCommandLineOption pattern(QStringLiteral("pattern"),
                                     QStringLiteral("What to cut: sample, scale (two lines to measure), ladder "
                                                    "(squares at stepped blade offsets) or test-cut (default: "
                                                    "sample)."),
                                     QStringLiteral("PATTERN"));
    const QCommandLineOption length(QStringLiteral("length"),
                                    QStringLiteral("Length of the scale lines in mm, from 50 to what the sheet "
                                                   "takes (default: 200)."),
                                    QStringLiteral("MM"));
    const QCommandLineOption offsets(QStringLiteral("offsets"),
                                     QStringLiteral("The ladder's blade offsets in mm (default: 0:0.5:0.05)."),
                                     QStringLiteral("FROM:TO:STEP"));
    const QCommandLineOption scale(QStringLiteral("scale"),
                                   QStringLiteral("Scale correction along x and y, 25% to 400%; one value for "
                                                  "both."),
                                   QStringLiteral("X%[,Y%]"));
    const QCommandLineOption measured(QStringLiteral("measured"),
                                      QStringLiteral("The scale lines as measured (cut with the device's current "
                                                     "corrections and --length); sets the scale that makes them "
                                                     "true."),
                                      QStringLiteral("XMM[,YMM]"));
    const QCommandLineOption bladeOffset(QStringLiteral("blade-offset"),
                                         QStringLiteral("Drag knife blade offset, 0 (off) to 1.5 mm."),
                                         QStringLiteral("MM"));
    const QCommandLineOption overcut(QStringLiteral("overcut"),
                                     QStringLiteral("Cut closed shapes again past their start, 0 to 5 mm."),
                                     QStringLiteral("MM"));
    const QCommandLineOption save(QStringLiteral("save"),
                                  QStringLiteral("Keep the corrections for the device (without it they apply to "
                                                 "this cut only); with no --cut, only keeps them."));
    parser.addOptions({cut, device, position, sendAs, sheet, output, replace, wait, quiet, pens, portSettings, pattern,
                       length, offsets, scale, measured, bladeOffset, overcut, save});
    parser.addOption(waitLimit);
    parser.addPositionalArgument(QStringLiteral("PLOTFILE"),
                                 QStringLiteral("Plot to cut instead of the sample: an HPGL file, 40 plotter units per "
                                                "mm. A file whose every PU or PD line is \"PU<X> <Y>;\" (the "
                                                "sample's own layout) is read in thousandths of an inch."),
                                 QStringLiteral("[PLOTFILE]"));

    if (!parser.parse(args))
        throw EUsage(ParserError(parser));
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out << parser.helpText();
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        out << VersionText();
        return std::nullopt;
    }
    if (!parser.isSet(cut) && !parser.isSet(save))
        throw EUsage(QStringLiteral("Nothing to do without --cut or --save"));
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        throw EUsage(QStringLiteral("Only one plot file can be cut at a time"));
    if (parser.isSet(replace) && !parser.isSet(output))
        throw EUsage(QStringLiteral("--replace is for --output"));

    Request r;
    r.Device = parser.value(device);
    if (parser.isSet(device) && r.Device.isEmpty())
        throw EUsage(QStringLiteral("--device needs a name"));
    if (parser.isSet(sendAs))
        r.Language = ParseSendAs(parser.value(sendAs));
    if (parser.isSet(sheet))
        r.Sheet = ParseSheet(parser.value(sheet));
    if (parser.isSet(position))
        r.Position = ParsePosition(parser.value(position));
    r.Output = parser.value(output);
    if (parser.isSet(output) && r.Output.isEmpty())
        throw EUsage(QStringLiteral("--output needs a file name, or - for standard output"));
    r.Replace = parser.isSet(replace);
    r.Wait = parser.isSet(wait);
    if (parser.isSet(waitLimit)) {
        if (!r.Wait)
            throw EUsage(QStringLiteral("--wait-limit is for --wait"));
        static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
        bool ok = digits.match(parser.value(waitLimit)).hasMatch();
        r.WaitLimitSeconds = ok ? parser.value(waitLimit).toInt(&ok) : 0;
        if (!ok)
            throw EUsage(QStringLiteral("\"%1\" is not a time for --wait-limit; use whole seconds, 0 for no limit")
                             .arg(FromUtf8(Quoted(Utf8(parser.value(waitLimit))))));
    }
    r.Quiet = parser.isSet(quiet);
    r.PlotFile = files.value(0);
    if (parser.isSet(pens)) {
        if (r.PlotFile.isEmpty())
            throw EUsage(QStringLiteral("--pens chooses lines of a plot file; name the file"));
        const auto chosen = PensFromText(Utf8(parser.value(pens)));
        if (!chosen)
            throw EUsage(QStringLiteral("\"%1\" is not a list of pens; use pen numbers such as 2 or 1,3")
                             .arg(FromUtf8(Quoted(Utf8(parser.value(pens))))));
        r.Pens = *chosen;
    }
    if (parser.isSet(portSettings)) {
        std::string wrong;
        r.Line = ParsePortSettings(Utf8(parser.value(portSettings)), &wrong);
        if (!r.Line)
            throw EUsage(QStringLiteral("\"%1\" is not a port setting: %2; use SPEED,BITS,PARITY,STOP,FLOW such as "
                                        "9600,8,N,1,xonxoff")
                             .arg(FromUtf8(Quoted(Utf8(parser.value(portSettings)))), FromUtf8(wrong)));
    }
    r.Cut = parser.isSet(cut);
    if (parser.isSet(pattern)) {
        const auto chosen = PatternFromWord(Utf8(parser.value(pattern)));
        if (!chosen)
            throw EUsage(QStringLiteral("Unknown pattern \"%1\"; use sample, scale, ladder or test-cut")
                             .arg(FromUtf8(Quoted(Utf8(parser.value(pattern))))));
        if (!r.PlotFile.isEmpty())
            throw EUsage(QStringLiteral("Cut either a pattern or a plot file"));
        r.Pattern.Pattern = *chosen;
    }
    if (parser.isSet(length)) {
        if (r.Pattern.Pattern != CalibrationPattern::Scale && !parser.isSet(measured))
            throw EUsage(QStringLiteral("--length is for --pattern scale and --measured"));
        r.Pattern.LengthMm = ParseMm(parser.value(length), QStringLiteral("length"));
        if (!(r.Pattern.LengthMm >= MinScaleLengthMm))
            throw EUsage(QStringLiteral("--length takes %1 mm or more").arg(MinScaleLengthMm));
    }
    try {
        if (parser.isSet(offsets)) {
            if (r.Pattern.Pattern != CalibrationPattern::Ladder)
                throw EUsage(QStringLiteral("--offsets is for --pattern ladder"));
            r.Pattern.Offsets = ParseLadderSteps(Utf8(parser.value(offsets)));
            LadderOffsets(r.Pattern.Offsets);
        }
    } catch (const EConvertError& e) {
        throw EUsage(e.Message());
    }
    CorrectionChoices& c = r.Corrections;
    if (parser.isSet(scale) && parser.isSet(measured))
        throw EUsage(QStringLiteral("Give either --scale or --measured"));
    if (parser.isSet(scale))
        c.ScalePercent = ParsePair(parser.value(scale), QStringLiteral("scale"), QLatin1String("%"));
    if (parser.isSet(measured))
        c.MeasuredMm = ParsePair(parser.value(measured), QStringLiteral("measured"), QLatin1String("mm"));
    if (parser.isSet(bladeOffset))
        c.BladeOffsetMm = ParseMm(parser.value(bladeOffset), QStringLiteral("blade-offset"));
    if (parser.isSet(overcut))
        c.OvercutMm = ParseMm(parser.value(overcut), QStringLiteral("overcut"));
    c.Save = parser.isSet(save);
    if (c.Save && !c.ScalePercent && !c.MeasuredMm && !c.BladeOffsetMm && !c.OvercutMm)
        throw EUsage(QStringLiteral("--save keeps corrections: give --scale, --measured, --blade-offset or --overcut"));
    if (!r.Cut && (parser.isSet(pattern) || !r.PlotFile.isEmpty() || parser.isSet(output) || r.Wait))
        throw EUsage(QStringLiteral("Nothing is cut without --cut"));
    return r;
}

// The device's corrections with the request's in their place; the scale
// from measured lines is composed with the current one, which the measured
// cut had. Throws EUsage for values out of range.
CutterCorrections ChosenCorrections(CutterCorrections c, const Request& r)
{
    const CorrectionChoices& choice = r.Corrections;
    try {
        if (choice.ScalePercent) {
            c.ScaleXPercent = choice.ScalePercent->first;
            c.ScaleYPercent = choice.ScalePercent->second;
        }
        if (choice.MeasuredMm) {
            c.ScaleXPercent = ComposedScalePercent(c.ScaleXPercent, r.Pattern.LengthMm, choice.MeasuredMm->first);
            c.ScaleYPercent = ComposedScalePercent(c.ScaleYPercent, r.Pattern.LengthMm, choice.MeasuredMm->second);
        }
    } catch (const EConvertError& e) {
        throw EUsage(e.Message());
    }
    c.BladeOffsetMm = choice.BladeOffsetMm.value_or(c.BladeOffsetMm);
    c.OvercutMm = choice.OvercutMm.value_or(c.OvercutMm);
    c = RoundedCorrections(c);
    if (const std::string problem = CorrectionsProblem(c); !problem.empty())
        throw EUsage(problem);
    return c;
}

// The device the job is for, with its remembered or default settings.
std::pair<DeviceIdentity, DeviceSettings> NamedDevice(const QString& name)
{
    auto found = FindDevice(Utf8(name));
    if (found) {
        if (auto remembered = RememberedSettings(found->first.Device, found->second))
            found->second = *remembered;
        return *found;
    }
    throw EPrinter(Utf8(QStringLiteral("There is no printer named \"%1\"").arg(FromUtf8(Quoted(Utf8(name))))));
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
    for (const DeviceSettings& paper : papers)
        if (SameSheetSize(paper, sheet))
            return paper;
    if (!mustExist)
        return DefaultSettings(device);
    if (papers.empty())
        return sheet; // the device lists no papers; the driver decides
    throw EPrinter(Utf8(QStringLiteral("The printer \"%1\" has no %2 x %3 mm paper; choose one of its papers or a "
                                       "cutter language with --send-as")
                            .arg(FromUtf8(device))
                            .arg(sheet.PaperWidthMm)
                            .arg(sheet.PaperHeightMm)));
}

// Language and sheet as asked, the way Print Setup changes them: a cutter
// draws on the whole sheet, a driver on the device's own paper.
void ApplyChoices(const std::string& device, DeviceSettings& s, const Request& r)
{
    if (IsPortDevice(device)) {
        if (r.Language == SendAs::Driver)
            throw EUsage(QStringLiteral("A cutter on a port takes a cutter language: hpgl, dmpl, gpgl or camm"));
        s.Line = r.Line.value_or(s.Line);
        s.Language = PortLanguage(s);
    } else if (r.Line) {
        throw EUsage(QStringLiteral("--port-settings is for a cutter on a port, such as --device /dev/ttyUSB0"));
    }
    const bool wasDriver = s.Language == SendAs::Driver;
    s.Language = r.Language.value_or(s.Language);
    if (s.Language != SendAs::Driver) {
        if (r.Sheet)
            TakeSheet(s, *r.Sheet);
        else if (wasDriver)
            TakeSheet(s, SameSheetSize(s, LetterCutterSheet()) ? LetterCutterSheet() : A4CutterSheet());
    } else if (r.Sheet) {
        TakeSheet(s, DriverPaper(device, *r.Sheet, true));
    } else if (!wasDriver && !device.empty()) {
        TakeSheet(s, DriverPaper(device, s, false));
    }
    if (r.Sheet)
        s.Landscape = false;
}

// The printer object belongs to the process; a caller that runs more than
// one command line (tests) gets it back as it was, and never a stale file.
class PrinterStateGuard {
public:
    PrinterStateGuard() { FHadDevice = Printer().KnownPrinter(FIdentity, FSettings); }
    ~PrinterStateGuard()
    {
        try {
            Printer().SetOutputFile(std::string(), false);
            if (FHadDevice)
                Printer().SetPrinter(FIdentity, FSettings);
        } catch (...) {
            // Only a job still open refuses, and PrintPlot always ends its job.
        }
    }
    PrinterStateGuard(const PrinterStateGuard&) = delete;
    PrinterStateGuard& operator=(const PrinterStateGuard&) = delete;

private:
    bool FHadDevice = false;
    DeviceIdentity FIdentity;
    DeviceSettings FSettings;
};

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
    static void Put(const QByteArray& text) { (void)!::write(STDERR_FILENO, text.constData(), text.size()); }

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
            Put("\r" + (QStringLiteral("Sending: ") + FromUtf8(JobProgressText(p))).toLocal8Bit() + "\033[K");
            shown = true;
        }
        if (shown)
            Put("\r\033[K");
    }

    std::mutex FMutex;
    std::condition_variable_any FWake;
    std::jthread FTicker;
};

// Follows the job as the window's status does, until it ends or the queue
// stops with it. A queue stopped by hand and a server that cannot be asked
// may both pass, and are waited out, each reason told once as it comes;
// past the limit the job is left to the queue.
void WaitForJob(const HandedJob& job, int limitSeconds, const std::function<void(const QString&)>& note)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const QString what = QStringLiteral("the job %1 on %2").arg(job.Id).arg(FromUtf8(job.Device));
    QString reason, told;
    bool reached = true;
    for (;;) {
        QThread::msleep(200);
        const bool wasReached = reached;
        TJobOutcome outcome;
        try {
            outcome = FollowJob(job);
            reason = FromUtf8(outcome.Reason);
            reached = true;
        } catch (const EOSError& e) {
            if (e.ErrorCode() != SpoolerUnavailableCode)
                throw;
            // The server's words, without the code the window shows.
            reason = FromUtf8(e.Message()).section(QLatin1Char('\n'), -1);
            reached = false;
        }
        if (outcome.State == TJobOutcome::Completed)
            return;
        if (outcome.State != TJobOutcome::OnItsWay)
            throw EPrinter(outcome.Message);
        // Each new reason once; a server out of reach once, whatever the
        // failures it gives on the way.
        if (reached || wasReached) {
            if (!reason.isEmpty() && reason != told)
                note(QStringLiteral("Still waiting for %1: %2").arg(what, reason));
            told = reason;
        }
        if (limitSeconds > 0 && Clock::now() - start >= std::chrono::seconds(limitSeconds)) {
            QString message = QStringLiteral("Gave up after %1 s waiting for %2").arg(limitSeconds).arg(what);
            if (reached)
                message += QStringLiteral(", which the queue still holds");
            throw EPrinter(Utf8(reason.isEmpty() ? message : message + QStringLiteral(": ") + reason));
        }
    }
}

// Cuts as asked; what the user is to be told of the plot file read and of a
// plot cut only in part.
QStringList Cut(const Request& r, const std::function<void(const QString&)>& note)
{
    const bool toFile = !r.Output.isEmpty();
    auto [identity, settings] = r.Device.isEmpty() ? ActiveDevice(toFile) : NamedDevice(r.Device);
    // After the lookup, so the active device is restored without this run's choices.
    PrinterStateGuard guard;
    const DeviceSettings kept = settings;
    ApplyChoices(identity.Device, settings, r);
    settings.Corrections = ChosenCorrections(settings.Corrections, r);
    // The plot before any job or setting is kept: a bad file must leave
    // nothing behind. Read for the chosen sheet, which it may scale to.
    TPLT plot;
    QStringList notices;
    if (!r.PlotFile.isEmpty()) {
        for (const std::string& notice : ReadPlotFile(plot, FileBytes(r.PlotFile), r.Pens, SheetOf(settings)))
            notices << FromUtf8(notice);
        if (plot.NPolygons() == 0)
            throw EFileError(NothingToCutMessage(FileBytes(r.PlotFile)));
    }
    // Everything is checked before anything is kept or cut.
    std::vector<double> pathOffsets;
    if (r.Cut && r.PlotFile.isEmpty() && r.Pattern.Pattern != CalibrationPattern::Sample) {
        try {
            PatternPlot(r.Pattern, settings, pathOffsets);
        } catch (const EConvertError& e) {
            throw EUsage(e.Message());
        }
    }
    std::optional<DeviceSettings> toKeep;
    if (r.Corrections.Save) {
        if (identity.Device.empty())
            throw EUsage(QStringLiteral("--save keeps corrections for a device; name it with --device"));
        toKeep = kept;
        toKeep->Corrections = settings.Corrections;
    }
    if (!r.Cut) {
        SaveSettings(identity.Device, *toKeep);
        return notices;
    }
    Printer().SetPrinter(identity, settings);
    Printer().SetOutputFile(r.Output.isEmpty() ? std::string() : FileBytes(r.Output), r.Replace);
    TakeHandedJob();
    std::optional<ProgressLine> progress;
    if (!r.Quiet && ::isatty(STDERR_FILENO) == 1)
        progress.emplace();
    const SheetShare share = r.PlotFile.isEmpty() ? PrintPattern(r.Pattern, r.Position) : PrintPlot(plot, r.Position);
    progress.reset();
    // A signal from here on ends the program as it would any other; one
    // caught before was the user's wish to stop, though the job went whole.
    ReleaseStopSignals();
    if (CaughtStopSignal() != 0)
        throw EPrinter("Stopped by a signal after the whole job had been sent");
    // A file or a port is done when written; only a queue's job has more to go.
    if (const HandedJob job = TakeHandedJob(); r.Wait && job.Id > 0)
        WaitForJob(job, r.WaitLimitSeconds, note);
    // Kept only once the cut they were asked with has gone well.
    if (toKeep)
        SaveSettings(identity.Device, *toKeep);
    if (const QString leftOut = FromUtf8(LeftOutNotice(share)); !leftOut.isEmpty())
        notices << leftOut;
    return notices;
}

QString ReportText(const QString& message)
{
    return ErrorReportText(message).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

namespace {

// Qt's own options, which the window takes (as "-name" or "--name"), and
// whether each takes the next argument as its value.
int QtOptionLength(const char* arg, const char* next)
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
    // Any argument but Qt's own is for the command line, so a mistyped
    // option is reported instead of opening a window that ignores it.
    for (int i = 1; i < argc && argv[i];) {
        const int qt = QtOptionLength(argv[i], i + 1 < argc ? argv[i + 1] : nullptr);
        if (qt == 0)
            return true;
        i += qt;
    }
    return false;
}

int RunCommandLine(const QStringList& args, QTextStream& out, QTextStream& err)
{
    // Kept settings that cannot be used are said, and the cut goes on.
    const auto note = [&err](const QString& text) { err << ReportText(text) << Qt::endl; };
    SetSettingsNoteHook([&note](const std::string& text) { note(FromUtf8(text)); });
    struct Unhook {
        ~Unhook() { SetSettingsNoteHook({}); }
    } unhook;
    try {
        const std::optional<Request> request = Parse(args, out);
        // A plot cut only in part is still cut: told, not failed.
        for (const QString& notice : request ? Cut(*request, note) : QStringList())
            err << ReportText(notice) << '\n';
        return 0;
    } catch (const EUsage& e) {
        err << ReportText(FromUtf8(e.Message())) << "\nTry \"vellico-output-test --help\" for the options.\n";
        return ExitUsage;
    } catch (...) {
        err << ReportText(CurrentExceptionMessage()) << '\n';
        return ExitFailed;
    }
}

int RunCommandLineProgram(int& argc, char** argv)
{
    // Interrupted, a job ends as Stop ends it, and leaves no temporary file.
    CatchStopSignals();
    // No QApplication: a cut needs no display, and none may exist.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLICO_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    QStringList args{QCoreApplication::arguments().value(0)};
    for (int i = 1; i < argc && argv[i];) {
        const int qt = QtOptionLength(argv[i], i + 1 < argc ? argv[i + 1] : nullptr);
        if (qt == 0)
            args << FileNameFromNative(QByteArray(argv[i]));
        i += std::max(qt, 1);
    }
    const int code = RunCommandLine(args, out, err);
    out.flush();
    err.flush();
    return code;
}
