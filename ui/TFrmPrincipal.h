#pragma once

#include "ui/ErrorReport.h"
#include "ui/SpoolerCalls.h"
#include "ui_FrmPrincipal.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>
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
    // The pens last typed for Open, offered again with the next file.
    QString FPensText;
};
