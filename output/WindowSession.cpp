#include "output/WindowSession.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "common/Text.h"
#include "output/Positions.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"

#include <utility>

namespace {

// The amount a stopped job got to: "4.5 of 9.9 KiB" out of
// "45 %: 4.5 of 9.9 KiB, 0:05 left".
std::string StoppedAmount(const std::string& progress)
{
    std::string amount = progress;
    if (const size_t colon = amount.rfind(": "); colon != std::string::npos)
        amount.erase(0, colon + 2);
    if (const size_t comma = amount.find(", "); comma != std::string::npos)
        amount.erase(comma);
    return amount;
}

// One report, each notice a sentence of its own.
std::string JoinedNotices(const std::vector<std::string>& notices)
{
    std::string text;
    for (const std::string& notice : notices) {
        if (notice.empty())
            continue;
        if (!text.empty())
            text = ErrorReportText(text) + "\n";
        text += notice;
    }
    return text;
}

} // namespace

TWindowSpooler SystemWindowSpooler()
{
    TWindowSpooler spooler;
    spooler.DeviceName = [] { return GetPrinterName(); };
    spooler.QueueStatus = [] { return GetQueueStatus(); };
    spooler.Follow = [](const HandedJob& job) { return FollowJob(job); };
    spooler.Request = [](int position) { return ActiveDeviceRequest(position); };
    spooler.Print = [](const TPLT& plot, const PrintRequest& request) { return PrintPlot(plot, request); };
    return spooler;
}

TWindowSession::TWindowSession(TWindowView& view, TWindowCalls::Post post, TWindowSpooler spooler)
    : FView(view), FSpooler(std::move(spooler)),
      FStatusReports([this](const std::string& message) { FView.ShowErrorReport(message); },
                     [this] { return FView.ErrorReportShowing(); }),
      FCalls(std::move(post))
{
    // Kept settings that cannot be used are read on workers; each is said
    // once, in the error report, and the window carries on. The hook may
    // still run on another thread after the window is gone.
    SetSettingsNoteHook([hand = FCalls.Hander(), this](const std::string& note) {
        hand([this, note] { FView.ShowErrorReport(note); });
    });
}

TWindowSession::~TWindowSession()
{
    Close();
}

void TWindowSession::Started()
{
    // The name arrives when the server answers; without any device that
    // answer is a failure, reported once. The window is finished either way.
    AskDeviceName();
    FStore = std::make_shared<TPLT>();
    FView.ShowPreview(FirstPosition);
}

void TWindowSession::Close()
{
    SetSettingsNoteHook({});
    // A job being sent ends after its current chunk rather than keep the
    // program alive to the end of the cut.
    StopJobs();
    FStore.reset();
    FCalls.Close();
}

bool TWindowSession::StartCall(TWindowCalls::Kind kind, std::function<std::string()> work, TWindowCalls::Done done,
                               TWindowCalls::Failed failed)
{
    // An answer's handler that fails is reported like any other handler.
    const auto report = [this] {
        try {
            FView.ShowErrorReport(CurrentExceptionMessage());
        } catch (...) {
            // Nothing sensible is left to do if the report itself fails.
        }
    };
    return FCalls.Start(
        kind, std::move(work),
        [done = std::move(done), report](const std::string& result) {
            try {
                done(result);
            } catch (...) {
                report();
            }
        },
        [failed = std::move(failed), report](const std::string& message, bool definite,
                                             TWindowCalls::Clock::time_point began) {
            try {
                failed(message, definite, began);
            } catch (...) {
                report();
            }
        });
}

bool TWindowSession::Waiting() const noexcept
{
    for (int kind = 0; kind < TWindowCalls::KindCount; ++kind)
        if (FCalls.Busy(static_cast<TWindowCalls::Kind>(kind)))
            return true;
    return false;
}

void TWindowSession::RefuseWhilePrinting() const
{
    if (FCalls.Busy(TWindowCalls::Job))
        throw EPrinter("Printing in progress");
}

void TWindowSession::AskDeviceName()
{
    const int generation = FDeviceGeneration;
    StartCall(
        TWindowCalls::Name, [this] { return FSpooler.DeviceName(); },
        [this, generation](const std::string& name) {
            if (generation != FDeviceGeneration)
                return;
            FView.ShowDeviceName(name);
            FNameKnown = !name.empty();
        },
        [this, generation](const std::string& message, bool definite, TWindowCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                FStatusReports.Failed(message, definite, began);
        });
}

void TWindowSession::Cut(const std::vector<std::string>& memoLines)
{
    if (!FStore)
        return; // the window is closing
    RefuseWhilePrinting();
    ReadPlotText(*FStore, memoLines);
    StartPrint({}, {});
}

void TWindowSession::OpenPlot(const std::string& fileName, const std::string& pensText)
{
    if (!FStore)
        return;
    FPensText = Trimmed(pensText);
    const auto pens = PensFromText(FPensText);
    if (!pens)
        throw EConvertError(Format("\"%1\" is not a list of pens; use pen numbers such as 2 or 1,3, or leave it empty "
                                   "for every pen",
                                   Quoted(FPensText)));
    RefuseWhilePrinting();
    StartPrint(fileName, *pens);
}

void TWindowSession::CutPattern(const CalibrationCut& cut)
{
    RefuseWhilePrinting();
    const int position = PositionIndex();
    StartJob([this, cut, position] {
        const PrintResult result = PrintPattern(cut, FSpooler.Request(position));
        return TJobAnswer{LeftOutNotice(result.Share), result.Job};
    });
}

void TWindowSession::StartPrint(const std::string& plotFile, const std::vector<int>& pens)
{
    std::shared_ptr<TPLT> plot = FStore;
    const int position = PositionIndex();
    // A plot file is read on the worker too: a large file or a slow disk
    // must not hold the window. Nothing is printed when the read fails.
    StartJob([this, plot, position, plotFile, pens] {
        const PrintRequest request = FSpooler.Request(position);
        std::vector<std::string> notices;
        // Read for the device's sheet, which the file may scale to.
        if (!plotFile.empty())
            notices = ReadPlotFile(*plot, plotFile, pens, SheetOf(request.Target.Settings));
        const PrintResult result = FSpooler.Print(*plot, request);
        notices.push_back(LeftOutNotice(result.Share));
        return TJobAnswer{JoinedNotices(notices), result.Job};
    });
}

void TWindowSession::StartJob(std::function<TJobAnswer()> job)
{
    auto answer = std::make_shared<TJobAnswer>();
    const int generation = FDeviceGeneration;
    FStopNote.clear();
    StartCall(
        TWindowCalls::Job,
        [job = std::move(job), answer] {
            const TStopMark stop;
            try {
                *answer = job();
            } catch (...) {
                // Stopped on request: not a failure, and told as what it is.
                if (!stop.Stopped())
                    throw;
                return "stopped after " + StoppedAmount(JobProgressText(CurrentJobProgress()));
            }
            return std::string();
        },
        [this, answer, generation](const std::string& stopped) {
            FStopNote = stopped;
            ShowStatus();
            if (answer->Job.Id > 0)
                FFollowed = TFollowedJob{answer->Job, generation, false};
            // A plot cut only in part is told how much was left out.
            if (!answer->Notice.empty())
                FView.ShowErrorReport(answer->Notice);
        },
        // A failed job is the user's own action: reported at once, every time.
        [this](const std::string& message, bool, TWindowCalls::Clock::time_point) { FView.ShowErrorReport(message); });
    ShowStatus();
}

void TWindowSession::Stop()
{
    StopJobs();
}

void TWindowSession::Tick()
{
    // The tick never waits: it asks, and the answer is shown when it comes.
    // While an answer is outstanding the tick asks nothing more. A job of
    // ours handed to a queue is asked about in the same call, and only then.
    const int generation = FDeviceGeneration;
    const std::optional<HandedJob> followed =
        FFollowed ? std::optional<HandedJob>(FFollowed->Job) : std::optional<HandedJob>();
    auto outcome = std::make_shared<std::optional<TJobOutcome>>();
    StartCall(
        TWindowCalls::Status,
        [this, followed, outcome] {
            std::string status = FSpooler.QueueStatus();
            if (followed) {
                try {
                    *outcome = FSpooler.Follow(*followed);
                } catch (const Exception&) {
                    // Asked again next tick; the status has its own reports.
                }
            }
            return status;
        },
        [this, generation, followed, outcome](const std::string& status) {
            if (generation != FDeviceGeneration)
                return;
            FServerStatus = JobFollowed(status, followed, *outcome);
            ShowStatus();
            FStatusReports.Succeeded();
        },
        [this, generation](const std::string& message, bool definite, TWindowCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                FStatusReports.Failed(message, definite, began);
        });
    if (!FNameKnown)
        AskDeviceName();
    // The job's progress needs no server: shown on every tick.
    ShowStatus();
}

void TWindowSession::ShowStatus()
{
    const JobProgress progress = CurrentJobProgress();
    FView.ShowStop(progress.Sending);
    if (progress.Sending) {
        FView.ShowStatus("Print: " + JobProgressText(progress));
        return;
    }
    // Once the job has gone its progress is cleared, even where the server
    // has not answered (or cannot: Wine's spooler never does).
    std::string text = FServerStatus;
    if (!FStopNote.empty())
        text = text.empty() ? "Job " + FStopNote : text + " (job " + FStopNote + ")";
    FView.ShowStatus(text);
}

std::string TWindowSession::JobFollowed(const std::string& status, const std::optional<HandedJob>& asked,
                                        const std::optional<TJobOutcome>& outcome)
{
    if (!outcome || !asked || !FFollowed || FFollowed->Job.Id != asked->Id || FFollowed->Job.Device != asked->Device)
        return status;
    const bool sameDevice = FFollowed->DeviceGeneration == FDeviceGeneration;
    switch (outcome->State) {
    case TJobOutcome::Completed: FFollowed.reset(); return status;
    case TJobOutcome::Failed: {
        // Reported once: a queue that stopped with it has said so already.
        // Settled before the report, whose loop runs further ticks.
        const bool report = !FFollowed->Reported;
        FFollowed.reset();
        if (report)
            FView.ShowErrorReport(outcome->Message);
        return status;
    }
    case TJobOutcome::Stuck:
        if (!FFollowed->Reported) {
            FFollowed->Reported = true;
            FView.ShowErrorReport(outcome->Message);
        }
        break;
    case TJobOutcome::OnItsWay: break;
    }
    // The reason stands beside the queue's state, for the queue it is about.
    if (!sameDevice || outcome->Reason.empty())
        return status;
    return status + " (" + outcome->Reason + ")";
}

void TWindowSession::DeviceChosen(const DeviceIdentity& identity, const DeviceSettings& settings)
{
    Printer().SetPrinter(identity, settings);
    ++FDeviceGeneration;
    FNameKnown = false;
    FStatusReports.Succeeded();
    // The earlier device's state and stopped job are not this one's; a job
    // still being sent keeps showing its progress.
    FServerStatus.clear();
    FStopNote.clear();
    ShowStatus();
    AskDeviceName();
}

void TWindowSession::ChooseDevice(const DeviceIdentity& identity,
                                  std::function<DeviceSettings(std::string& notSaved)> settingsForChoice)
{
    if (FCalls.Busy(TWindowCalls::Setup))
        throw EPrinter("The printer setup is still being applied");
    auto chosen = std::make_shared<DeviceSettings>();
    StartCall(
        TWindowCalls::Setup,
        [settingsForChoice = std::move(settingsForChoice), chosen] {
            std::string notSaved;
            *chosen = settingsForChoice(notSaved);
            return notSaved;
        },
        [this, identity, chosen](const std::string& notSaved) {
            DeviceChosen(identity, *chosen);
            if (!notSaved.empty())
                FView.ShowErrorReport(notSaved);
        },
        [this](const std::string& message, bool, TWindowCalls::Clock::time_point) { FView.ShowErrorReport(message); });
}

void TWindowSession::CalibrationDevice(DeviceIdentity& identity, DeviceSettings& settings) const
{
    if (!Printer().KnownPrinter(identity, settings) || identity.Device.empty())
        throw EPrinter("Choose a device in Print Setup first");
}

void TWindowSession::PositionChosen(int index)
{
    FView.ShowPreview(index >= 0 && index < static_cast<int>(PositionTexts.size()) ? index : -1);
}

int TWindowSession::PositionIndex() const
{
    // The text typed into the field must still name the selected item.
    const int index = FView.SelectedPosition();
    if (index < 0 || index >= static_cast<int>(PositionTexts.size()))
        return -1;
    return FView.PositionText() == PositionTexts[static_cast<size_t>(index)] ? index : -1;
}
