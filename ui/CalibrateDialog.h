#pragma once

// "Calibrate": walks the user through one correction of the active device:
// choose a pattern, cut it, type what was measured on it, see the correction
// it gives (old -> new) and keep it, then cut again to check. Everything
// works from the keyboard; the cuts go through the window's job worker.

#include "output/Calibration.h"
#include "platform/PrinterObject.h"

#include <QDialog>

#include <functional>

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QStackedWidget;

class TCalibrateDialog : public QDialog {
    Q_OBJECT
public:
    // cut starts a job of the pattern (on the window's job worker); it throws
    // when one cannot start.
    TCalibrateDialog(const DeviceIdentity& identity, const DeviceSettings& settings,
                     std::function<void(const CalibrationCut&)> cut, QWidget* parent = nullptr);

    // The device's settings as they now stand (with a correction kept).
    const DeviceSettings& Settings() const noexcept { return FSettings; }

    CalibrationCut Pattern() const;
    // The corrections the measurement gives; throws EConvertError for a
    // measurement that makes no sense.
    CutterCorrections Proposed() const;

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
    QPushButton* BtnCut = nullptr;
    QPushButton* BtnKeep = nullptr;

private:
    void PatternChosen();
    void ShowChange();
    void CutClick();
    void KeepClick();
    // The square's nominal sides on this sheet, and the measurement that
    // matches them (a square cut).
    std::pair<double, double> SquareSize() const;
    void ResetSquare();

    DeviceIdentity FIdentity;
    DeviceSettings FSettings;
    std::function<void(const CalibrationCut&)> FCut;
    QStackedWidget* FMeasure = nullptr;
    QStackedWidget* FChoices = nullptr;
};
