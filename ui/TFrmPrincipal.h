#pragma once

#include "output/PrinterStatus.h"
#include "platform/Spooler.h"
#include "ui/ErrorReport.h"
#include "ui/SpoolerCalls.h"
#include "ui_FrmPrincipal.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TPLT;
struct CalibrationCut;

// The nine position previews, in the order of the position list. Each is
// decoded the first time it is shown, which keeps start-up short.
class TImageList {
public:
    static constexpr int Count = 9;
    // A null pixmap for an index outside 0..8.
    QPixmap Image(int index) const;
    // The screen's device pixels per window pixel: the previews are read in
    // the density drawn for it.
    void SetDevicePixelRatio(qreal ratio);

private:
    qreal FRatio = 1.0;
    mutable QPixmap FImages[Count];
};

// The program's one window. The handlers throw on failure like any other
// code; they are connected through the error-report wrappers, never directly.
// Everything that talks to the print server runs on worker threads (see
// TSpoolerCalls); the handlers only start it and show its answers.
class TFrmPrincipal : public QWidget, public Ui::TFrmPrincipal {
    Q_OBJECT
public:
    explicit TFrmPrincipal(QWidget* parent = nullptr);
    ~TFrmPrincipal() override;

    QTimer* TimerEstado = nullptr;
    QPushButton* BtnStop = nullptr;
    TImageList ListaDeImagenes;

    // The position the next print uses: the list's selected item, or -1 when
    // the text typed into the field names no item.
    int PositionIndex() const;
    // The store Cut and Open read into; null only after the window closed.
    const TPLT* Store() const noexcept { return IPLT.get(); }
    TSpoolerCalls& SpoolerCalls() noexcept { return FCalls; }

public slots:
    void FormCreate();
    void FormClose();
    void BtnCancelClick();
    void BtnPropiedadesClick();
    void CmbPosicionSelect();
    void BtnCutClick();
    void Button1Click();
    void TimerEstadoTimer();
    void BtnStopClick();
    // Opens Calibrate for the active device (Ctrl+K, or the window's menu).
    void CalibrateClick();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowPreview(int index);
    void AskDeviceName();
    // Prints the store on the job worker, after reading plotFile into it
    // (the lines of these pens, every pen when empty) when one is given.
    void StartPrint(const QString& plotFile = QString(), const std::vector<int>& pens = {});
    // Cuts a calibration pattern on the job worker, as Cut cuts the sample.
    void StartPattern(const CalibrationCut& cut);
    void SpoolerFailed(const QString& message, bool definite, TSpoolerCalls::Clock::time_point began);
    // Runs a job on the job worker; a job handed to a queue is then followed.
    // The job answers what the user is to be told of a plot cut only in part,
    // and gives the job it handed over.
    void StartJob(std::function<QString(HandedJob&)> job);
    // LStatus: the job's progress while one is being sent, otherwise the
    // server's answer with what became of a job that was stopped.
    void ShowStatus();
    // The status text to show, after taking in what became of the followed
    // job: its end ends the following, its trouble is reported once.
    QString JobFollowed(const QString& status, const std::optional<HandedJob>& asked,
                        const std::optional<TJobOutcome>& outcome);

    // Shared with a job still being handed over when the window closes.
    std::shared_ptr<TPLT> IPLT;
    TSpoolerCalls FCalls;
    // The status ticks and the device name query share one reporter, so a
    // missing device is reported once, not again on every tick.
    TRepeatedFailureReporter FStatusReports;
    // Whether LImpresora shows the device's name; until it does, every tick
    // asks again, so a printer set up after start-up appears.
    bool FNameKnown = false;
    // Answers about an earlier device are dropped once another is chosen.
    int FDeviceGeneration = 0;
    // The last job handed to a queue, followed by the status ticks until it
    // ends; its trouble is reported once.
    struct FollowedJob {
        HandedJob Job;
        int DeviceGeneration = 0;
        bool Reported = false;
    };
    std::optional<FollowedJob> FFollowed;
    QString FServerStatus;
    // "stopped after 4.5 of 9.9 KiB" after the user stopped the last job.
    QString FStopNote;
    // The pens last typed for Open, offered again with the next file.
    QString FPensText;
};
