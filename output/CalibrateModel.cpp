#include "output/CalibrateModel.h"

#include "common/Exceptions.h"
#include "common/Text.h"
#include "cutter/CutterLanguage.h"
#include "platform/DeviceSettingsStore.h"

#include <cmath>
#include <tuple>

namespace {

using F = CalibrateField;

constexpr std::string_view Mm_ = "mm";

// By CalibrateField, in its order.
const std::array<CalibrateFieldLimits, CalibrateFieldCount> FieldLimitTable = {{
    {"Line length", MinScaleLengthMm, 5000, 1, Mm_, {}},
    {"Offsets from", 0, MaxBladeOffsetMm, 2, Mm_, {}},
    {"Offsets to", 0, MaxBladeOffsetMm, 2, Mm_, {}},
    {"Steps of", 0.01, MaxBladeOffsetMm, 2, Mm_, {}},
    {"Forces from", 0, MaxToolValue, 0, {}, {}},
    {"Forces to", 0, MaxToolValue, 0, {}, {}},
    {"Force step", 0, MaxToolValue, 0, {}, "Off"},
    {"Speeds from", 0, MaxToolValue, 0, {}, {}},
    {"Speeds to", 0, MaxToolValue, 0, {}, {}},
    {"Speed step", 0, MaxToolValue, 0, {}, "Off"},
    {"Line X", 1, 10000, 2, Mm_, {}},
    {"Line Y", 1, 10000, 2, Mm_, {}},
    {"Best square", 1, MaxLadderSquares, 0, {}, {}},
    {"Side along x", 1, 10000, 2, Mm_, {}},
    {"Side along y", 1, 10000, 2, Mm_, {}},
    {"Diagonal A", 1, 20000, 2, Mm_, {}},
    {"Diagonal B", 1, 20000, 2, Mm_, {}},
}};

std::string Percent(double v)
{
    return FixedNumber(v, 2) + " %";
}

std::string Mm(double v)
{
    return v > 0 ? FixedNumber(v, 2) + " mm" : "off";
}

std::string Tool(double v)
{
    return v > 0 ? Number(v) : "off";
}

// A grid axis to start from: three round steps from a fifth of the way up
// the language's range; left out where the language has no command for it.
ToolSteps FirstSteps(const ToolRange& range)
{
    const int span = range.High - range.Low;
    int nice = 1;
    for (const int each : {2, 5, 10, 20, 50, 100})
        if (each <= span / 8)
            nice = each;
    const int first = (range.Low + span / 5 + nice - 1) / nice * nice;
    return {first, first + 2 * nice, range.Command.empty() ? 0 : nice};
}

} // namespace

const std::array<CalibratePatternChoice, 6>& CalibratePatterns()
{
    static const std::array<CalibratePatternChoice, 6> patterns = {{
        {CalibrationPattern::Scale,
         "Scale lines",
         {{"Line &length:", {F::Length}, Mm_}},
         {{"Line &X:", {F::MeasuredX}, Mm_}, {"Line &Y:", {F::MeasuredY}, Mm_}}},
        {CalibrationPattern::Ladder,
         "Blade offset ladder",
         {{"Offsets &from:", {F::OffsetFrom}, Mm_},
          {"&to:", {F::OffsetTo}, Mm_},
          {"in st&eps of:", {F::OffsetStep}, Mm_}},
         {{"&Best square:", {F::Best}, {}}}},
        {CalibrationPattern::TestCut, "Test cut (force)", {}, {}},
        {CalibrationPattern::Square,
         "Square (skew)",
         {},
         {{"Side along &x:", {F::SideX}, Mm_},
          {"Side along &y:", {F::SideY}, Mm_},
          {"Diagonal &A (one tick):", {F::DiagonalA}, Mm_},
          {"Diagonal &B (two ticks):", {F::DiagonalB}, Mm_}}},
        {CalibrationPattern::Grid,
         "Force \xc3\x97 speed grid",
         {{"&Forces from, to, step:", {F::ForceFrom, F::ForceTo, F::ForceStep}, {}},
          {"&Speeds from, to, step:", {F::SpeedFrom, F::SpeedTo, F::SpeedStep}, {}}},
         {{"&Best square:", {F::Best}, {}}}},
        {CalibrationPattern::Sample, "Sample", {}, {}},
    }};
    return patterns;
}

TCalibrateModel::TCalibrateModel(DeviceIdentity identity, DeviceSettings settings)
    : FIdentity(std::move(identity)), FSettings(std::move(settings))
{
    const LadderSteps steps;
    const ToolSteps forces = FirstSteps(ForceRange(FSettings.Language));
    const ToolSteps speeds = FirstSteps(SpeedRange(FSettings.Language));
    for (const auto& [field, value] : {std::pair{F::Length, DefaultScaleLengthMm},
                                       {F::OffsetFrom, steps.FromMm},
                                       {F::OffsetTo, steps.ToMm},
                                       {F::OffsetStep, steps.StepMm},
                                       {F::ForceFrom, double(forces.From)},
                                       {F::ForceTo, double(forces.To)},
                                       {F::ForceStep, double(forces.Step)},
                                       {F::SpeedFrom, double(speeds.From)},
                                       {F::SpeedTo, double(speeds.To)},
                                       {F::SpeedStep, double(speeds.Step)},
                                       {F::Best, 1.0}})
        SetValue(field, value);
    FitFirstSizes();
    ResetMeasured();
}

bool TCalibrateModel::Fits() const
{
    try {
        CutToSend();
        return true;
    } catch (const Exception&) {
        return false;
    }
}

void TCalibrateModel::Shrink(CalibrationPattern pattern,
                             const std::vector<std::vector<std::pair<CalibrateField, double>>>& sizes)
{
    const int chosen = FChosen;
    Choose(pattern);
    const auto usual = FFields;
    bool fits = Fits();
    for (auto size = sizes.begin(); !fits && size != sizes.end(); ++size) {
        for (const auto& [field, value] : *size)
            SetValue(field, value);
        fits = Fits();
    }
    // Nothing smaller fits either (or the trouble is not the size): the usual
    // size, and Order says why it is not cut.
    if (!fits)
        FFields = usual;
    FChosen = chosen;
}

void TCalibrateModel::FitFirstSizes()
{
    // The usual sizes where the sheet takes them; else the largest round ones
    // it does, so that a first cut on a small sheet does not fail.
    std::vector<std::vector<std::pair<F, double>>> sizes;
    for (double length = DefaultScaleLengthMm - 10; length >= MinScaleLengthMm; length -= 10)
        sizes.push_back({{F::Length, length}});
    Shrink(CalibrationPattern::Scale, sizes);

    // Fewer squares: the ladder ends at a smaller offset.
    sizes.clear();
    const LadderSteps ladder;
    for (double to = ladder.ToMm - ladder.StepMm; to >= ladder.FromMm - 1e-9; to -= ladder.StepMm)
        sizes.push_back({{F::OffsetTo, std::round(to * 100) / 100}});
    Shrink(CalibrationPattern::Ladder, sizes);

    // Fewer columns (speeds, across the sheet) first, then fewer rows.
    sizes.clear();
    const auto values = [this](F from, F to, F step) {
        std::vector<double> ends;
        const double first = Value(from).value_or(0), last = Value(to).value_or(0), each = Value(step).value_or(0);
        for (double end = last - each; each > 0 && end >= first; end -= each)
            ends.push_back(end);
        return ends;
    };
    const std::vector<double> speeds = values(F::SpeedFrom, F::SpeedTo, F::SpeedStep);
    const std::vector<double> forces = values(F::ForceFrom, F::ForceTo, F::ForceStep);
    const double lastSpeed = speeds.empty() ? Value(F::SpeedTo).value_or(0) : speeds.back();
    for (const double speed : speeds)
        sizes.push_back({{F::SpeedTo, speed}});
    for (const double force : forces)
        sizes.push_back({{F::SpeedTo, lastSpeed}, {F::ForceTo, force}});
    Shrink(CalibrationPattern::Grid, sizes);
}

std::string TCalibrateModel::DeviceText() const
{
    return "Device: " + FIdentity.Device;
}

const CalibratePatternChoice& TCalibrateModel::Choice() const
{
    return CalibratePatterns()[static_cast<size_t>(FChosen)];
}

void TCalibrateModel::Choose(int index)
{
    if (index >= 0 && index < static_cast<int>(CalibratePatterns().size()))
        FChosen = index;
}

void TCalibrateModel::Choose(CalibrationPattern pattern)
{
    for (size_t i = 0; i < CalibratePatterns().size(); ++i)
        if (CalibratePatterns()[i].Pattern == pattern)
            FChosen = static_cast<int>(i);
}

CalibrateFieldLimits TCalibrateModel::Limits(CalibrateField field) const
{
    CalibrateFieldLimits fieldLimits = FieldLimitTable[static_cast<size_t>(field)];
    if (field == F::Best) {
        // As many squares as the chosen ladder or grid has.
        try {
            const CalibrationCut cut = Cut();
            int columns = 0;
            if (cut.Pattern == CalibrationPattern::Ladder)
                fieldLimits.High = static_cast<double>(LadderOffsets(cut.Offsets).size());
            else if (cut.Pattern == CalibrationPattern::Grid)
                fieldLimits.High = static_cast<double>(GridCells(cut, FSettings, columns).size());
        } catch (const Exception&) {
            // Not made as it stands: Order says why.
        }
    }
    return fieldLimits;
}

std::optional<double> TCalibrateModel::Value(CalibrateField field) const
{
    return FFields[static_cast<size_t>(field)].Value;
}

std::string TCalibrateModel::Text(CalibrateField field) const
{
    return FFields[static_cast<size_t>(field)].Text;
}

void TCalibrateModel::SetValue(CalibrateField field, double value)
{
    const CalibrateFieldLimits& fieldLimits = FieldLimitTable[static_cast<size_t>(field)];
    FFields[static_cast<size_t>(field)] = {
        value, value == 0 && !fieldLimits.OffText.empty() ? std::string(fieldLimits.OffText) : Number(value)};
}

void TCalibrateModel::SetText(CalibrateField field, std::string_view text)
{
    const CalibrateFieldLimits& fieldLimits = FieldLimitTable[static_cast<size_t>(field)];
    std::optional<double> value = DoubleFromText(text);
    if (!fieldLimits.OffText.empty() && SameWord(Trimmed(text), fieldLimits.OffText))
        value = 0;
    if (value && !std::isfinite(*value))
        value.reset();
    FFields[static_cast<size_t>(field)] = {value, std::string(text)};
}

double TCalibrateModel::Checked(CalibrateField field) const
{
    const CalibrateFieldLimits fieldLimits = Limits(field);
    const std::optional<double> value = Value(field);
    if (value && *value >= fieldLimits.Low && *value <= fieldLimits.High
        && (fieldLimits.Decimals > 0 || *value == std::floor(*value)))
        return *value;
    throw EConvertError(
        Format(fieldLimits.Decimals > 0 ? "%1: enter a number from %2 to %3" : "%1: enter a whole number from %2 to %3",
               fieldLimits.Name, fieldLimits.Low, fieldLimits.High));
}

CalibrationCut TCalibrateModel::Cut() const
{
    CalibrationCut cut;
    cut.Pattern = Choice().Pattern;
    const auto whole = [this](CalibrateField field) { return static_cast<int>(Checked(field)); };
    switch (cut.Pattern) {
    case CalibrationPattern::Scale: cut.LengthMm = Checked(F::Length); break;
    case CalibrationPattern::Ladder:
        cut.Offsets = {Checked(F::OffsetFrom), Checked(F::OffsetTo), Checked(F::OffsetStep)};
        break;
    case CalibrationPattern::Grid:
        cut.Forces = {whole(F::ForceFrom), whole(F::ForceTo), whole(F::ForceStep)};
        cut.Speeds = {whole(F::SpeedFrom), whole(F::SpeedTo), whole(F::SpeedStep)};
        break;
    case CalibrationPattern::TestCut:
    case CalibrationPattern::Square:
    case CalibrationPattern::Sample: break;
    }
    return cut;
}

CalibrationCut TCalibrateModel::CutToSend() const
{
    const CalibrationCut cut = Cut();
    std::vector<double> unused;
    PatternPlot(cut, FSettings, unused); // a pattern that does not fit is reported before any job
    return cut;
}

std::string TCalibrateModel::Order() const
{
    const bool driver = FSettings.Language == SendAs::Driver;
    std::string order;
    switch (Choice().Pattern) {
    case CalibrationPattern::Scale:
        return "Measure each line between the ticks at its ends. The line marked X runs along x, the one marked Y "
               "along y.";
    case CalibrationPattern::Ladder:
        try {
            const std::vector<double> offsets = LadderOffsets(Cut().Offsets);
            order = Format("%1 squares, left to right; the ticks under each count its number (a long tick is five). "
                           "Square 1 is cut with %2, the last with %3. Pick the one whose corners are sharp and "
                           "without loops.",
                           offsets.size(), Mm(offsets.front()), Mm(offsets.back()));
        } catch (const Exception& e) {
            order = e.Message();
        }
        if (driver)
            order += " Through the printer driver, blade offset belongs to the driver: the squares come out alike.";
        return order;
    case CalibrationPattern::TestCut:
        return "Triangle not cut through: more force. Backing scored: less force. Rounded corners: more blade "
               "offset.";
    case CalibrationPattern::Square:
        order = "Measure the side along x, the side along y, and the diagonals between the corner marks: A between "
                "the corners with one tick, B between those with two.";
        if (driver)
            order += " Through the printer driver only the scale is used: the skew is for cutter languages.";
        return order;
    case CalibrationPattern::Grid:
        try {
            int columns = 0;
            const std::vector<ToolSetting> cells = GridCells(Cut(), FSettings, columns);
            return Format("%1 squares, a row for each force (the first on top), a column for each speed; numbered "
                          "left to right, row after row, by the ticks under each (a long tick is five). Pick the one "
                          "cut cleanly through, its backing not scored.",
                          cells.size());
        } catch (const Exception& e) {
            return e.Message();
        }
    case CalibrationPattern::Sample: return "The sample, with the device's corrections.";
    }
    return order;
}

CutterCorrections TCalibrateModel::Proposed() const
{
    const CalibrationCut cut = Cut();
    CutterCorrections c = FSettings.Corrections;
    switch (cut.Pattern) {
    case CalibrationPattern::Scale:
        c = WithMeasuredScale(c, cut.LengthMm, Checked(F::MeasuredX), Checked(F::MeasuredY));
        break;
    case CalibrationPattern::Square: {
        const auto [width, height] = SquarePatternSizeMm(FSettings);
        c = WithMeasuredSquare(c, width, height,
                               {Checked(F::SideX), Checked(F::SideY), Checked(F::DiagonalA), Checked(F::DiagonalB)},
                               SheetToCutterSkewSign(FSettings.Rotate90, FSettings.MirrorX, FSettings.MirrorY));
        break;
    }
    case CalibrationPattern::Ladder: {
        const std::vector<double> offsets = LadderOffsets(cut.Offsets);
        c.BladeOffsetMm = offsets[static_cast<size_t>(Checked(F::Best)) - 1];
        break;
    }
    case CalibrationPattern::Grid: {
        int columns = 0;
        const std::vector<ToolSetting> cells = GridCells(cut, FSettings, columns);
        const ToolSetting& best = cells[static_cast<size_t>(Checked(F::Best)) - 1];
        c.Force = best.Force;
        c.Speed = best.Speed;
        break;
    }
    case CalibrationPattern::TestCut:
    case CalibrationPattern::Sample: break;
    }
    return c;
}

CalibrateChange TCalibrateModel::Change() const
{
    const CutterCorrections& old = FSettings.Corrections;
    CalibrateChange change;
    try {
        const CutterCorrections c = Proposed();
        const std::string scale =
            Format("Scale x: %1 \xe2\x86\x92 %2, y: %3 \xe2\x86\x92 %4", Percent(old.ScaleXPercent),
                   Percent(c.ScaleXPercent), Percent(old.ScaleYPercent), Percent(c.ScaleYPercent));
        switch (Choice().Pattern) {
        case CalibrationPattern::Scale: change = {scale, true}; break;
        case CalibrationPattern::Ladder:
            change = {Format("Blade offset: %1 \xe2\x86\x92 %2", Mm(old.BladeOffsetMm), Mm(c.BladeOffsetMm)),
                      FSettings.Language != SendAs::Driver};
            break;
        case CalibrationPattern::Grid:
            change = {Format("Force: %1 \xe2\x86\x92 %2, speed: %3 \xe2\x86\x92 %4", Tool(old.Force), Tool(c.Force),
                             Tool(old.Speed), Tool(c.Speed)),
                      true};
            break;
        case CalibrationPattern::Square:
            change = {Format("%1; skew: %2\xc2\xb0 \xe2\x86\x92 %3\xc2\xb0", scale, FixedNumber(old.SkewDeg, 3),
                             FixedNumber(c.SkewDeg, 3)),
                      true};
            break;
        case CalibrationPattern::TestCut:
        case CalibrationPattern::Sample:
            change = {"Nothing to measure: this cut checks the corrections as kept.", false};
            break;
        }
    } catch (const Exception& e) {
        change = {e.Message(), false};
    }
    return change;
}

bool TCalibrateModel::Keep()
{
    if (!Change().CanKeep)
        return false;
    DeviceSettings s = FSettings;
    s.Corrections = CheckedCorrections(Proposed());
    Printer().SetPrinter(FIdentity, s);
    FSettings = s;
    // The next measurement is taken on a cut with this correction.
    ResetMeasured();
    // Last: the correction holds for this session, and a file that cannot
    // be written is reported.
    SaveSettings(FIdentity.Device, s);
    return true;
}

void TCalibrateModel::ResetMeasured()
{
    for (const CalibrateField field : {F::MeasuredX, F::MeasuredY})
        FFields[static_cast<size_t>(field)] = FFields[static_cast<size_t>(F::Length)];
    double width = SquareWidthMm, height = SquareHeightMm;
    try {
        std::tie(width, height) = SquarePatternSizeMm(FSettings);
    } catch (const Exception&) {
        // Too small a sheet: Cut says so; the fields keep the usual size.
    }
    const double diagonal = std::round(std::hypot(width, height) * 100) / 100;
    for (const auto& [field, value] : {std::pair{F::SideX, width}, std::pair{F::SideY, height},
                                       std::pair{F::DiagonalA, diagonal}, std::pair{F::DiagonalB, diagonal}})
        SetValue(field, value);
}

CalibrationPicture TCalibrateModel::Picture(double width, double height, double textHeight) const
{
    // The grid's lines are the same whatever force and speed the job ends
    // by setting again: its picture does not wait for them (Cut asks).
    DeviceSettings drawn = FSettings;
    for (double* own : {&drawn.Corrections.Force, &drawn.Corrections.Speed})
        if (!(*own > 0))
            *own = 1;
    try {
        return PatternPicture(Cut(), drawn, width, height, textHeight);
    } catch (const Exception&) {
        CalibrationPicture none;
        none.Width = width;
        none.Height = height;
        return none;
    }
}
