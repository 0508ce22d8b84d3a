#pragma once

#include "output/WindowSession.h"
#include "ui/ErrorReport.h"
#include "ui_FrmPrincipal.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <string>

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

// The program's one window: draws the controls and shows what its session
// (the window's behaviour, in output/) tells it. The handlers throw on
// failure like any other code; they are connected through the error-report
// wrappers, never directly.
class TFrmPrincipal : public QWidget, public Ui::TFrmPrincipal, private TWindowView {
    Q_OBJECT
public:
    explicit TFrmPrincipal(QWidget* parent = nullptr);
    ~TFrmPrincipal() override;

    QTimer* TimerEstado = nullptr;
    QPushButton* BtnStop = nullptr;
    TImageList ListaDeImagenes;

    int PositionIndex() const { return FSession.PositionIndex(); }
    const TPLT* Store() const noexcept { return FSession.Store(); }
    TWindowSession& Session() noexcept { return FSession; }

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
    void ShowDeviceName(const std::string& name) override;
    void ShowStatus(const std::string& text) override;
    void ShowStop(bool visible) override;
    void ShowPreview(int index) override;
    void ShowErrorReport(const std::string& message) override;
    bool ErrorReportShowing() const override;
    int SelectedPosition() const override;
    std::string PositionText() const override;

    TWindowSession FSession;
};
