#include "ui/CommandLine.h"

#include "common/Exceptions.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "output/Positions.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "platform/PrintableArea.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "platform/serial/PortDevices.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "ui/ErrorReport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <QThread>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
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
};

// The Print Setup dialog's custom roll limits.
constexpr double MinSheetMm = 10;
constexpr double MaxSheetWidthMm = 5000;
constexpr double MaxSheetLengthMm = 50000;

SendAs ParseSendAs(const QString& word)
{
    if (const std::optional<SendAs> language = SendAsFromWord(word))
        return *language;
    throw EUsage(
        QStringLiteral("Unknown language \"%1\" for --send-as; use driver, hpgl, dmpl, gpgl or camm").arg(word));
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
                         .arg(text)
                         .arg(PositionTexts.size() - 1));
    }
    QStringList names;
    for (std::size_t i = 0; i < PositionTexts.size(); ++i) {
        const QString name =
            QString::fromLatin1(PositionTexts[i].data(), static_cast<qsizetype>(PositionTexts[i].size()));
        if (text == name)
            return static_cast<int>(i);
        names << QLatin1Char('"') + name + QLatin1Char('"');
    }
    throw EUsage(QStringLiteral("\"%1\" is not a position; use 0 to %2 or one of %3")
                     .arg(text)
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
            return CutterSheet(QStringLiteral("Custom.%1x%2mm").arg(width).arg(length), width, length);
    }
    throw EUsage(QStringLiteral("\"%1\" is not a sheet; use A4, Letter or WIDTHxLENGTH in mm (width %2 to %3, "
                                "length %2 to %4)")
                     .arg(text)
                     .arg(MinSheetMm)
                     .arg(MaxSheetWidthMm)
                     .arg(MaxSheetLengthMm));
}

struct Request {
    QString Device;
    std::optional<SendAs> Language;
    std::optional<DeviceSettings> Sheet;
    int Position = TopLeft;
    QString Output;
    bool Replace = false;
    bool Wait = false;
    bool Quiet = false;
    QString PlotFile;
    std::optional<PortSettings> Line;
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
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("No progress line on the terminal while the job is sent."));
    const QCommandLineOption wait(QStringLiteral("wait"),
                                  QStringLiteral("Wait until the queue has printed the job; fail with the server's "
                                                 "reason when it is aborted or canceled or the queue stops."));
    const QCommandLineOption portSettings(
        QStringLiteral("port-settings"),
        QStringLiteral("For a cutter on a port (--device /dev/ttyUSB0): SPEED,BITS,PARITY,STOP,FLOW such as "
                       "9600,8,N,1,xonxoff; FLOW is none, xonxoff or rtscts (default: the port's)."),
        QStringLiteral("LINE"));
    parser.addOptions({cut, device, position, sendAs, sheet, output, replace, wait, quiet, portSettings});
    parser.addPositionalArgument(QStringLiteral("PLOTFILE"),
                                 QStringLiteral("Plot to cut instead of the sample: an HPGL file, 40 plotter units per "
                                                "mm. A file whose every PU or PD line is \"PU<X> <Y>;\" (the "
                                                "sample's own layout) is read in thousandths of an inch."),
                                 QStringLiteral("[PLOTFILE]"));

    if (!parser.parse(args))
        throw EUsage(parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        out << parser.helpText();
        return std::nullopt;
    }
    if (parser.isSet(version)) {
        out << VersionText();
        return std::nullopt;
    }
    if (!parser.isSet(cut))
        throw EUsage(QStringLiteral("Nothing to do without --cut"));
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
    r.Quiet = parser.isSet(quiet);
    r.PlotFile = files.value(0);
    if (parser.isSet(portSettings)) {
        r.Line = ParsePortSettings(parser.value(portSettings));
        if (!r.Line)
            throw EUsage(QStringLiteral("\"%1\" is not a port setting; use SPEED,BITS,PARITY,STOP,FLOW such as "
                                        "9600,8,N,1,xonxoff")
                             .arg(parser.value(portSettings)));
    }
    return r;
}

// The device the job is for, with its remembered or default settings.
std::pair<DeviceIdentity, DeviceSettings> NamedDevice(const QString& name)
{
    // A port needs no server; whether it is there shows when it is opened.
    if (IsPortDevice(name))
        return {{name, PortRecord(name).DriverName, name}, RememberedSettings(name).value_or(DefaultPortSettings())};
    for (const DestinationInfo& d : ListDestinations()) {
        if (d.Name.compare(name, Qt::CaseInsensitive) != 0)
            continue;
        const DeviceIdentity identity{d.Name, d.Info.DriverName, d.Info.PortName};
        if (auto remembered = RememberedSettings(d.Name))
            return {identity, *remembered};
        return {identity, DefaultSettings(d.Name)};
    }
    throw EPrinter(QStringLiteral("There is no printer named \"%1\"").arg(name));
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
        return {DeviceIdentity{}, DefaultSettings(QString())};
    }
    return {identity, settings};
}

// The device's own paper of the sheet's size, for a job through its driver.
DeviceSettings DriverPaper(const QString& device, const DeviceSettings& sheet, bool mustExist)
{
    if (device.isEmpty())
        return sheet;
    const std::vector<DeviceSettings> papers = SupportedPapers(device);
    for (const DeviceSettings& paper : papers)
        if (SameSheetSize(paper, sheet))
            return paper;
    if (!mustExist)
        return DefaultSettings(device);
    if (papers.empty())
        return sheet; // the device lists no papers; the driver decides
    throw EPrinter(QStringLiteral("The printer \"%1\" has no %2 x %3 mm paper; choose one of its papers or a cutter "
                                  "language with --send-as")
                       .arg(device)
                       .arg(sheet.PaperWidthMm)
                       .arg(sheet.PaperHeightMm));
}

// Language and sheet as asked, the way Print Setup changes them: a cutter
// draws on the whole sheet, a driver on the device's own paper.
void ApplyChoices(const QString& device, DeviceSettings& s, const Request& r)
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
    } else if (!wasDriver && !device.isEmpty()) {
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
            Printer().SetOutputFile(QString(), false);
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
            Put("\r" + (QStringLiteral("Sending: ") + JobProgressText(p)).toLocal8Bit() + "\033[K");
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
// stops with it. A server that cannot be asked for a while is waited out.
void WaitForJob(const HandedJob& job)
{
    for (;;) {
        QThread::msleep(200);
        TJobOutcome outcome;
        try {
            outcome = FollowJob(job);
        } catch (const EOSError& e) {
            if (e.ErrorCode() != SpoolerUnavailableCode)
                throw;
            continue;
        }
        if (outcome.State == TJobOutcome::Completed)
            return;
        if (outcome.State != TJobOutcome::OnItsWay)
            throw EPrinter(outcome.Message);
    }
}

void Cut(const Request& r)
{
    // The plot first: a bad file must not leave a job or a file behind.
    TPLT plot;
    if (r.PlotFile.isEmpty()) {
        ReadPlotText(plot, BuiltInSampleLines());
    } else {
        ReadPlotFile(plot, r.PlotFile);
        if (plot.NPolygons() == 0)
            throw EFileError(QStringLiteral("The plot file \"%1\" has nothing to cut: it needs one PU or PD "
                                            "instruction per line")
                                 .arg(PlotFileFullPath(r.PlotFile)));
    }

    const bool toFile = !r.Output.isEmpty();
    auto [identity, settings] = r.Device.isEmpty() ? ActiveDevice(toFile) : NamedDevice(r.Device);
    // After the lookup, so the active device is restored without this run's choices.
    PrinterStateGuard guard;
    ApplyChoices(identity.Device, settings, r);
    Printer().SetPrinter(identity, settings);
    Printer().SetOutputFile(r.Output, r.Replace);
    TakeHandedJob();
    std::optional<ProgressLine> progress;
    if (!r.Quiet && ::isatty(STDERR_FILENO) == 1)
        progress.emplace();
    PrintPlot(plot, r.Position);
    progress.reset();
    // A file or a port is done when written; only a queue's job has more to go.
    if (const HandedJob job = TakeHandedJob(); r.Wait && job.Id > 0)
        WaitForJob(job);
}

QString ReportText(const QString& message)
{
    return ErrorReportText(message).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

bool WantsCommandLine(int argc, char** argv)
{
    for (int i = 1; i < argc && argv[i]; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            break;
        for (const char* word : {"--cut", "--help", "--help-all", "-h", "-?", "--version", "-v"})
            if (std::strcmp(a, word) == 0)
                return true;
    }
    return false;
}

int RunCommandLine(const QStringList& args, QTextStream& out, QTextStream& err)
{
    try {
        const std::optional<Request> request = Parse(args, out);
        if (request)
            Cut(*request);
        return 0;
    } catch (const EUsage& e) {
        err << ReportText(e.Message()) << "\nTry \"vellico-output-test --help\" for the options.\n";
        return ExitUsage;
    } catch (...) {
        err << ReportText(CurrentExceptionMessage()) << '\n';
        return ExitFailed;
    }
}

int RunCommandLineProgram(int& argc, char** argv)
{
    // No QApplication: a cut needs no display, and none may exist.
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELLICO_VERSION));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = RunCommandLine(QCoreApplication::arguments(), out, err);
    out.flush();
    err.flush();
    return code;
}
