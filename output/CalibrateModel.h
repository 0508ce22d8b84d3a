#pragma once

// What the Calibrate dialog decides, for both windows: the patterns it
// offers and the fields of each, the cut they make, what to measure on it,
// the correction a measurement gives (old -> new) and keeping it. A window
// shows the rows it is given, hands every edit back, and draws the picture.

#include "output/Calibration.h"
#include "output/CalibrationPicture.h"
#include "platform/PrinterObject.h"

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class CalibrateField {
    Length,
    OffsetFrom,
    OffsetTo,
    OffsetStep,
    ForceFrom,
    ForceTo,
    ForceStep,
    SpeedFrom,
    SpeedTo,
    SpeedStep,
    MeasuredX,
    MeasuredY,
    Best,
    SideX,
    SideY,
    DiagonalA,
    DiagonalB,
};
inline constexpr int CalibrateFieldCount = 17;

// A field's bounds; Decimals 0 takes whole numbers only. OffText, where
// set, stands for the value 0 (a grid axis left out).
struct CalibrateFieldLimits {
    std::string_view Name; // in messages
    double Low = 0;
    double High = 0;
    int Decimals = 0;
    std::string_view Unit;
    std::string_view OffText;
};

// A line of a dialog: its label (& before the mnemonic) and its fields side
// by side, all in Unit.
struct CalibrateRow {
    std::string_view Label;
    std::vector<CalibrateField> Fields;
    std::string_view Unit;
};

// Each pattern of the list, in the list's order.
struct CalibratePatternChoice {
    CalibrationPattern Pattern;
    std::string_view Caption;
    std::vector<CalibrateRow> Rows;     // what is cut
    std::vector<CalibrateRow> Measured; // what is measured on it
};
const std::array<CalibratePatternChoice, 6>& CalibratePatterns();

// What the measurement would change, for the user: "Scale x: 99.50 % →
// 100.00 %, …", or why it cannot (then not to be kept).
struct CalibrateChange {
    std::string Text;
    bool CanKeep = false;
};

class TCalibrateModel {
public:
    TCalibrateModel(DeviceIdentity identity, DeviceSettings settings);

    const DeviceSettings& Settings() const noexcept { return FSettings; }
    // "Device: NAME".
    std::string DeviceText() const;

    // The index in CalibratePatterns().
    int Chosen() const noexcept { return FChosen; }
    const CalibratePatternChoice& Choice() const;
    void Choose(int index);
    void Choose(CalibrationPattern pattern);

    // Bounds as they stand now: the best square goes up to the squares the
    // chosen ladder or grid has.
    CalibrateFieldLimits Limits(CalibrateField field) const;
    // The value as last set (typed text that was not a number: nullopt).
    std::optional<double> Value(CalibrateField field) const;
    // The field as a text box shows it: as typed, or the value written out.
    std::string Text(CalibrateField field) const;
    void SetValue(CalibrateField field, double value);
    // A text box's text; taken as the field's value when it is a number in
    // the field's bounds (whole for a whole field, or its OffText).
    void SetText(CalibrateField field, std::string_view text);

    // The chosen pattern as it would be cut; throws EConvertError naming a
    // field of it that holds no usable number.
    CalibrationCut Cut() const;
    // The same, once its plot is known to fit: what Cut hands on.
    CalibrationCut CutToSend() const;
    // How to cut and measure the chosen pattern, or why it cannot be made.
    std::string Order() const;
    // The corrections the measurement gives; throws EConvertError for one
    // that makes no sense.
    CutterCorrections Proposed() const;
    CalibrateChange Change() const;
    // Makes the proposed correction the device's, in this session and then
    // in the settings file (which may throw after the session has it); the
    // measured fields are set for a cut with it. False, with nothing changed,
    // where Change says there is nothing to keep; throws EConvertError, with
    // nothing changed, for a correction out of range.
    bool Keep();

    // The chosen pattern's picture in a box of width x height; empty where
    // the pattern cannot be made (Order says why).
    CalibrationPicture Picture(double width, double height, double textHeight) const;

private:
    struct FieldValue {
        std::optional<double> Value;
        std::string Text;
    };
    double Checked(CalibrateField field) const;
    void ResetMeasured();
    bool Fits() const;
    void FitFirstSizes();
    void Shrink(CalibrationPattern pattern, const std::vector<std::vector<std::pair<CalibrateField, double>>>& sizes);

    DeviceIdentity FIdentity;
    DeviceSettings FSettings;
    int FChosen = 0;
    std::array<FieldValue, CalibrateFieldCount> FFields;
};
