#pragma once

// "Calibrate": walks the user through one correction of the active device:
// choose a pattern, cut it, type what was measured on it, see the correction
// it gives (old -> new) and keep it, then cut again to check. Everything
// works from the keyboard; the cuts go through the window's job worker.
// What it offers and decides is TCalibrateModel's; this draws it.

#include "output/CalibrateModel.h"
#include "platform/PrinterObject.h"
#include "ui/ErrorReport.h"

#include <QDialog>
#include <QPixmap>

#include <functional>
#include <optional>

class QAbstractSpinBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QPushButton;
class QSpinBox;

// The picture drawn on a pixmap of ratio device pixels per unit, antialiased.
QPixmap CalibrationPixmap(const CalibrationPicture& picture, qreal ratio, const QPalette& palette);

class TCalibrateDialog : public QDialog {
    Q_OBJECT
public:
    // cut starts a job of the pattern (on the window's job worker); it throws
    // when one cannot start.
    TCalibrateDialog(const DeviceIdentity& identity, const DeviceSettings& settings,
                     std::function<void(const CalibrationCut&)> cut, QWidget* parent = nullptr);

    // The device's settings as they now stand (with a correction kept).
    const DeviceSettings& Settings() const noexcept { return FModel.Settings(); }

    CalibrationCut Pattern() const { return FModel.Cut(); }
    // The corrections the measurement gives; throws EConvertError for a
    // measurement that makes no sense.
    CutterCorrections Proposed() const { return FModel.Proposed(); }

    // The dialog's own controls, for tests.
    QComboBox* PatternList = nullptr;
    QDoubleSpinBox* Length = nullptr;
    QDoubleSpinBox* From = nullptr;
    QDoubleSpinBox* To = nullptr;
    QDoubleSpinBox* Step = nullptr;
    QDoubleSpinBox* MeasuredX = nullptr;
    QDoubleSpinBox* MeasuredY = nullptr;
    QSpinBox* BestSquare = nullptr;
    // The square pattern as measured: sides along x and y, diagonals A and B.
    QDoubleSpinBox* SquareWidth = nullptr;
    QDoubleSpinBox* SquareHeight = nullptr;
    QDoubleSpinBox* DiagonalA = nullptr;
    QDoubleSpinBox* DiagonalB = nullptr;
    // The grid's rows of forces and columns of speeds; a step of 0 leaves
    // that axis at the device's own value.
    QSpinBox* ForceFrom = nullptr;
    QSpinBox* ForceTo = nullptr;
    QSpinBox* ForceStep = nullptr;
    QSpinBox* SpeedFrom = nullptr;
    QSpinBox* SpeedTo = nullptr;
    QSpinBox* SpeedStep = nullptr;
    QLabel* Order = nullptr;
    QLabel* Change = nullptr;
    QLabel* Picture = nullptr;
    QPushButton* BtnCut = nullptr;
    QPushButton* BtnKeep = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Puts each row of every pattern in form once; rows of the chosen one
    // are shown.
    void AddRows(QFormLayout* form, bool measured);
    void Refresh();
    // The fields as the model holds them (after a correction was kept).
    void ShowValues();
    void KeepClick();

    TCalibrateModel FModel;
    std::function<void(const CalibrationCut&)> FCut;
    QAbstractSpinBox* FBoxes[CalibrateFieldCount] = {};
    QFormLayout* FPatternForm = nullptr;
    QFormLayout* FMeasureForm = nullptr;
    // While shown, the error reports stand over the dialog.
    std::optional<TErrorReportOwner> FReportOwner;
};
