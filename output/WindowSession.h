#pragma once

// The main window's behaviour, whichever toolkit draws it: what Cut, Stop,
// Open and Calibrate's cuts do, what the status tick asks and shows, which
// answers count and which failures are reported. The shells (Qt, Win32)
// draw the controls, turn their events into calls here, and show what the
// view is told. Every handler may throw; the shell reports what it throws.

#include "output/Calibration.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "output/RepeatedFailureReporter.h"
#include "output/WindowCalls.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "plot/UPLT.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the window shows, and the one control it reads back.
class TWindowView {
public:
    virtual ~TWindowView() = default;
    // LImpresora: the active device's name.
    virtual void ShowDeviceName(const std::string& name) = 0;
    // LStatus: the queue's state, or the job's progress while one is sent.
    virtual void ShowStatus(const std::string& text) = 0;
    // BtnStop: shown only while a job is being sent.
    virtual void ShowStop(bool visible) = 0;
    // ImagenHoja: the preview of position 0..8, or none for -1.
    virtual void ShowPreview(int index) = 0;
    // The standard error report; modal, so its loop may run further ticks.
    virtual void ShowErrorReport(const std::string& message) = 0;
    virtual bool ErrorReportShowing() const = 0;
    // CmbPosicion: the selected item (-1 for none) and the text in its field.
    virtual int SelectedPosition() const = 0;
    virtual std::string PositionText() const = 0;
};

// What the window asks the spooler, and the job's way to the device: the
// system's own unless a test puts others in. Each runs on a worker.
struct TWindowSpooler {
    std::function<std::string()> DeviceName;
    std::function<std::string()> QueueStatus;
    std::function<TJobOutcome(const HandedJob&)> Follow;
    // The job for the active device at a position.
    std::function<PrintRequest(int position)> Request;
    std::function<PrintResult(const TPLT&, const PrintRequest&)> Print;
};
TWindowSpooler SystemWindowSpooler();

class TWindowSession {
public:
    // "Top left", selected when the window opens.
    static constexpr int FirstPosition = 2;

    // post hands an answer from a worker to the window's thread (see
    // TWindowCalls).
    TWindowSession(TWindowView& view, TWindowCalls::Post post, TWindowSpooler spooler = SystemWindowSpooler());
    // Closes, and waits for the workers.
    ~TWindowSession();
    TWindowSession(const TWindowSession&) = delete;
    TWindowSession& operator=(const TWindowSession&) = delete;

    // The window is up: asks the device's name and shows the first preview.
    void Started();
    // The window is closing: a job being sent stops after its current chunk,
    // Cut and Open do nothing more, answers from now on are dropped. Never
    // waits.
    void Close();

    // Cut: the memo's lines into the store, printed at the position.
    // Refused while a job runs, before the store is touched: that job still
    // reads it.
    void Cut(const std::vector<std::string>& memoLines);
    // Open: the file read into the store (the lines of the pens typed) and
    // printed, both on the job worker. The file name is the file system's
    // own bytes.
    void OpenPlot(const std::string& fileName, const std::string& pensText);
    // The pens last typed for Open, offered again with the next file.
    const std::string& PensText() const noexcept { return FPensText; }
    // A calibration pattern, cut as Cut cuts the sample.
    void CutPattern(const CalibrationCut& cut);
    void Stop();

    // The 200 ms status tick: never waits.
    void Tick();

    // A device chosen in Print Setup, with its settings.
    void DeviceChosen(const DeviceIdentity& identity, const DeviceSettings& settings);
    // The same where the settings are worked out from the choice on a
    // worker (they may ask the spooler); notSaved: why they could not be
    // kept, told once they apply.
    void ChooseDevice(const DeviceIdentity& identity,
                      std::function<DeviceSettings(std::string& notSaved)> settingsForChoice);
    // The device Calibrate corrects, as far as it is known; throws when none
    // was chosen.
    void CalibrationDevice(DeviceIdentity& identity, DeviceSettings& settings) const;

    // A position chosen from the list: its preview.
    void PositionChosen(int index);
    // The position the next job uses: the selected item, or -1 when the text
    // typed into the field names no item.
    int PositionIndex() const;

    bool JobRunning() const noexcept { return FCalls.Busy(TWindowCalls::Job); }
    // Whether an answer of any kind is still to come.
    bool Waiting() const noexcept;
    // The store Cut and Open read into; null before Started and after Close.
    const TPLT* Store() const noexcept { return FStore.get(); }

private:
    struct TJobAnswer {
        std::string Notice; // what the user is told of a plot cut in part
        HandedJob Job;
    };
    bool StartCall(TWindowCalls::Kind kind, std::function<std::string()> work, TWindowCalls::Done done,
                   TWindowCalls::Failed failed);
    void RefuseWhilePrinting() const;
    void AskDeviceName();
    void StartPrint(const std::string& plotFile, const std::vector<int>& pens);
    void StartJob(std::function<TJobAnswer()> job);
    void ShowStatus();
    // The status text to show, after taking in what became of the followed
    // job: its end ends the following, its trouble is reported once.
    std::string JobFollowed(const std::string& status, const std::optional<HandedJob>& asked,
                            const std::optional<TJobOutcome>& outcome);

    TWindowView& FView;
    const TWindowSpooler FSpooler;
    // Shared with a job still running when the window closes.
    std::shared_ptr<TPLT> FStore;
    // The status ticks and the name query share one reporter, so a missing
    // device is reported once, not again on every tick.
    TRepeatedFailureReporter FStatusReports;
    // Until the device's name is shown, every tick asks again, so a printer
    // set up after start-up appears.
    bool FNameKnown = false;
    // Answers about an earlier device are dropped once another is chosen.
    int FDeviceGeneration = 0;
    // The last job handed to a queue, followed by the ticks until it ends.
    struct TFollowedJob {
        HandedJob Job;
        int DeviceGeneration = 0;
        bool Reported = false;
    };
    std::optional<TFollowedJob> FFollowed;
    std::string FServerStatus;
    // "stopped after 4.5 of 9.9 KiB" after the user stopped the last job.
    std::string FStopNote;
    std::string FPensText;
    // Last: destroyed first, so no worker outlives what it reads.
    TWindowCalls FCalls;
};
