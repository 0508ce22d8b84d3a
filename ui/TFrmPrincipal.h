#pragma once

#include "ui/ErrorReport.h"
#include "ui_FrmPrincipal.h"

#include <QPixmap>
#include <QTimer>
#include <QWidget>

#include <memory>

class TPLT;

// The nine position previews, in the order of the position list. Each is
// decoded the first time it is shown, which keeps start-up short.
class TImageList {
public:
    static constexpr int Count = 9;
    // A null pixmap for an index outside 0..8.
    QPixmap Image(int index) const;

private:
    mutable QPixmap FImages[Count];
};

// The program's one window. The handlers throw on failure like any other
// code; they are connected through the error-report wrappers, never directly.
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

public slots:
    void FormCreate();
    void FormClose();
    void BtnCancelClick();
    void BtnPropiedadesClick();
    void CmbPosicionSelect();
    void BtnCutClick();
    void Button1Click();
    void TimerEstadoTimer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void ShowPreview(int index);

    std::unique_ptr<TPLT> IPLT;
    // The status timer and the start-up device query share one reporter, so a
    // missing device is reported once, not again on every tick.
    TRepeatedFailureReporter FStatusReports;
};
