#include "output/LineCheck.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "common/Text.h"
#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "platform/DrawnJob.h"
#include "platform/JobDestination.h"
#include "platform/PrinterObject.h"
#include "platform/serial/PortDevices.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <memory>

namespace {

// A printer object that only draws the job in memory, to count its bytes.
class CountingPrinter final : public TPrinter {
public:
    std::int64_t Bytes = 0;

    void GetPrinter(DeviceIdentity&, DeviceSettings&) override { throw EPrinter("No device"); }
    bool KnownPrinter(DeviceIdentity&, DeviceSettings&) override { return false; }
    void SetPrinter(const DeviceIdentity&, const DeviceSettings&) override {}
    int PageWidth() override { return PrintableWidthPx(OrientPage(FSettings), SurfaceDpi); }
    int PageHeight() override { return PrintableHeightPx(OrientPage(FSettings), SurfaceDpi); }
    void BeginJob(const std::string& title, const JobTarget& target) override
    {
        FSettings = target.Settings;
        FJob = std::make_unique<DrawnJob>(FSettings, title);
    }
    HandedJob EndDoc() override
    {
        Bytes = static_cast<std::int64_t>(FJob->Finish().size());
        FJob.reset();
        return {};
    }
    void AbortDoc() noexcept override { FJob.reset(); }
    bool Printing() const override { return FJob != nullptr; }
    DrawingSurface& Canvas() override { return FJob->Canvas(); }

private:
    DeviceSettings FSettings;
    std::unique_ptr<DrawnJob> FJob;
};

std::vector<CutterAnswer> Ask(const std::string& device, const DeviceSettings& settings,
                              std::chrono::milliseconds limit, bool stopWhenSilent)
{
    if (!IsPortDevice(device))
        throw EPrinter(NotAPortToAsk(device));
    return AskCutterOnPort(device, settings.Line, PortLanguage(settings), limit, stopWhenSilent);
}

// The bytes as they came, printable ones as they are.
std::string Shown(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '\r')
            text += "\\r";
        else if (b == '\n')
            text += "\\n";
        else if (b >= 0x20 && b < 0x7f && b != '\\')
            text += c;
        else
            text += Format("\\x%1%2", "0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]);
    }
    return text;
}

} // namespace

std::vector<CutterAnswer> IdentifyCutter(const std::string& device, const DeviceSettings& settings,
                                         std::chrono::milliseconds limit)
{
    return Ask(device, settings, limit, false);
}

std::vector<std::string> AnswerLines(SendAs language, const std::vector<CutterAnswer>& answers, bool raw)
{
    std::vector<std::string> lines;
    for (const CutterAnswer& each : answers) {
        const std::optional<CutterAsk> asked = QuestionIn(language, each.Question);
        std::string name(QuestionName(each.Question));
        name[0] = static_cast<char>(name[0] - 'a' + 'A');
        if (!asked) {
            lines.push_back(Format("%1: not asked: %2 has no such question", name, LanguageName(language)));
            continue;
        }
        std::string line = Format("%1 (%2): ", name, asked->Instruction);
        switch (each.Shape) {
        case CutterAnswer::Kind::Missing: break;
        case CutterAnswer::Kind::NoAnswer: line += "no answer"; break;
        case CutterAnswer::Kind::WrongShape: line += "wrong shape: " + each.Problem; break;
        case CutterAnswer::Kind::Fine:
            if (each.Question == CutterQuestion::Model)
                line += each.Model;
            else if (each.Question == CutterQuestion::BufferSize || each.Question == CutterQuestion::FreeSpace)
                line += Format("%1 bytes", *each.Number);
            else
                line += Format("%1 (%2)", *each.Number, Join(each.Meanings, "; "));
            break;
        }
        if (raw && each.Shape != CutterAnswer::Kind::NoAnswer)
            line += Format(" [sent \"%1\", received \"%2\"]", Shown(asked->Bytes), Shown(each.Raw));
        lines.push_back(line);
    }
    return lines;
}

LineCheck CheckCutterLine(const std::string& device, const DeviceSettings& settings, std::chrono::milliseconds limit)
{
    const SendAs language = PortLanguage(settings);
    const std::vector<CutterAnswer> answers = Ask(device, settings, limit, true);
    std::int64_t job = 0;
    if (settings.Line.Flow == FlowControl::None && AnswersQuestions(language)) {
        // A job that cannot be drawn (a force out of the language's range)
        // fails the cut with its own reason; the line is judged without it.
        try {
            job = SampleJobBytes(settings);
        } catch (const Exception&) {
            job = 0;
        }
    }
    return JudgeLine(language, answers, device, settings.Line, FirstBlockBytes(settings.Line.Flow, job));
}

std::string LineCheckSentence(const std::string& device, const DeviceSettings& settings)
{
    try {
        return CheckCutterLine(device, settings).Sentence;
    } catch (...) {
        return CurrentExceptionMessage();
    }
}

std::int64_t SampleJobBytes(const DeviceSettings& settings)
{
    TPLT sample;
    ReadPlotText(sample, BuiltInSampleLines());
    DeviceSettings s = settings;
    s.Language = PortLanguage(settings);
    CountingPrinter printer;
    PrintPlotOn(printer, sample, {{DeviceIdentity{}, s, std::string(), false}, TopLeft});
    return printer.Bytes;
}
