#include "cutter/CalibrationPatterns.h"

#include "common/Exceptions.h"
#include "cutter/CutterCorrections.h"

#include <array>
#include <cmath>
#include <initializer_list>

namespace {

constexpr std::array<const char*, 6> PatternWords = {"sample", "scale", "ladder", "test-cut", "square", "grid"};

// Hundredths of a mm.
std::int32_t Units(double mm)
{
    return static_cast<std::int32_t>(std::lround(mm * 100));
}

void Path(TPLT& plot, std::initializer_list<TPoint> points)
{
    plot.AddPolygon();
    for (const TPoint& p : points)
        plot.AddPoint(p);
}

// Square and triangle with the square's lower-left corner at (x, y). Both are
// cut anticlockwise from a lower-left corner, so the outside of the first
// edge is below it, where the blade's aligning stroke can go.
void SquareWithTriangle(TPLT& plot, std::int32_t x, std::int32_t y)
{
    const std::int32_t s = Units(TestSquareMm);
    Path(plot, {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}, {x, y}});
    Path(plot, {{x + 200, y + 200}, {x + 800, y + 200}, {x + 500, y + 800}, {x + 200, y + 200}});
}

// The ladder's square with its number in tally ticks under it (a long tick
// for five, a short one for one), its lower left corner at (x, 0) and the
// square 6 mm up; how many polylines it took.
constexpr std::int32_t LadderPitch = 1500, SquareBottom = 600;
int NumberedSquare(TPLT& plot, std::int32_t x, std::int32_t y, int number)
{
    constexpr std::int32_t TickGap = 100, Short = 200, Long = 400;
    SquareWithTriangle(plot, x, y + SquareBottom);
    const int marks = number / 5 + number % 5;
    for (int i = 0; i < marks; ++i) {
        const std::int32_t tx = x + TickGap * (i + 1);
        Path(plot, {{tx, y}, {tx, y + (i < number / 5 ? Long : Short)}});
    }
    return 2 + marks;
}

// Scale pattern layout (hundredths of a mm): the x line at y 3 mm, from x 6 mm;
// the y line at x 3 mm, from y 8 mm; 6 mm ticks across each end.
constexpr std::int32_t XLineStart = 600, XLineY = 300, YLineStart = 800, YLineX = 300, Tick = 600;

double Parse(const std::string& text, bool& ok)
{
    const std::optional<double> value = DoubleFromText(Trimmed(text));
    ok = value.has_value();
    return value.value_or(0);
}

} // namespace

std::string_view PatternWord(CalibrationPattern pattern)
{
    return PatternWords[static_cast<size_t>(pattern)];
}

std::optional<CalibrationPattern> PatternFromWord(std::string_view word)
{
    for (size_t i = 0; i < PatternWords.size(); ++i)
        if (SameWord(word, PatternWords[i]))
            return static_cast<CalibrationPattern>(i);
    return std::nullopt;
}

LadderSteps ParseLadderSteps(std::string_view text)
{
    const std::vector<std::string> parts = Split(text, ':');
    bool ok = parts.size() == 3;
    LadderSteps steps;
    bool each = false;
    if (ok) {
        steps.FromMm = Parse(parts[0], each);
        ok = each;
        steps.ToMm = Parse(parts[1], each);
        ok = ok && each;
        steps.StepMm = Parse(parts[2], each);
        ok = ok && each;
    }
    if (!ok)
        throw EConvertError(
            Format("\"%1\" is not a row of offsets; use FROM:TO:STEP in mm such as 0:0.5:0.05", Quoted(text)));
    return steps;
}

std::vector<double> LadderOffsets(const LadderSteps& s)
{
    const auto inRange = [](double v) { return std::isfinite(v) && v >= 0 && v <= MaxBladeOffsetMm; };
    if (!inRange(s.FromMm) || !inRange(s.ToMm))
        throw EConvertError(
            Format("The offsets must lie from 0 to %1 mm; %2 to %3 does not", MaxBladeOffsetMm, s.FromMm, s.ToMm));
    if (s.ToMm < s.FromMm || !std::isfinite(s.StepMm) || !(s.StepMm >= 0.01 || (s.StepMm > 0 && s.ToMm == s.FromMm)))
        throw EConvertError("The offsets must rise from FROM to TO in steps of at least 0.01 mm");
    const double span = (s.ToMm - s.FromMm) / s.StepMm;
    const long gaps = std::lround(span);
    // The last square's offset must be TO itself: a step longer than the
    // span (0:1:10000000) would leave only FROM.
    if (std::abs(s.FromMm + static_cast<double>(gaps) * s.StepMm - s.ToMm) > 1e-6)
        throw EConvertError(Format("Steps of %1 mm do not lead from %2 to %3 mm", s.StepMm, s.FromMm, s.ToMm));
    if (gaps + 1 > MaxLadderSquares)
        throw EConvertError(
            Format("%1 squares are too many for one ladder; at most %2 fit its numbering", gaps + 1, MaxLadderSquares));
    std::vector<double> offsets;
    for (long i = 0; i <= gaps; ++i)
        offsets.push_back(std::round((s.FromMm + s.StepMm * static_cast<double>(i)) * 100) / 100);
    return offsets;
}

double ScalePatternWidthMm(double lengthMm)
{
    return XLineStart / 100.0 + lengthMm;
}

double ScalePatternHeightMm(double lengthMm)
{
    return YLineStart / 100.0 + lengthMm;
}

void MakeScalePattern(TPLT& plot, double lengthMm)
{
    plot.Reset();
    const std::int32_t l = Units(lengthMm);
    const std::int32_t xEnd = XLineStart + l, yEnd = YLineStart + l;
    Path(plot, {{XLineStart, XLineY}, {xEnd, XLineY}});
    Path(plot, {{XLineStart, 0}, {XLineStart, Tick}});
    Path(plot, {{xEnd, 0}, {xEnd, Tick}});
    const std::int32_t xMid = XLineStart + l / 2;
    Path(plot, {{xMid - 200, 500}, {xMid + 200, 900}}); // X, above the x line
    Path(plot, {{xMid - 200, 900}, {xMid + 200, 500}});

    Path(plot, {{YLineX, YLineStart}, {YLineX, yEnd}});
    Path(plot, {{0, YLineStart}, {Tick, YLineStart}});
    Path(plot, {{0, yEnd}, {Tick, yEnd}});
    const std::int32_t yMid = YLineStart + l / 2;
    Path(plot, {{500, yMid + 200}, {700, yMid}, {900, yMid + 200}}); // Y, beside the y line
    Path(plot, {{700, yMid}, {700, yMid - 200}});
}

void MakeLadderPattern(TPLT& plot, const std::vector<double>& offsets, std::vector<double>& pathOffsets)
{
    plot.Reset();
    pathOffsets.clear();
    for (size_t k = 0; k < offsets.size(); ++k) {
        const int paths = NumberedSquare(plot, static_cast<std::int32_t>(k) * LadderPitch, 0, static_cast<int>(k) + 1);
        pathOffsets.insert(pathOffsets.end(), static_cast<size_t>(paths), offsets[k]);
    }
}

void MakeGridPattern(TPLT& plot, const std::vector<ToolSetting>& cells, int columns,
                     std::vector<ToolSetting>& pathTools)
{
    plot.Reset();
    pathTools.clear();
    if (columns <= 0)
        return;
    // A row: the ticks, the square above them, and a gap.
    constexpr std::int32_t RowPitch = 2000;
    const int rows = (static_cast<int>(cells.size()) + columns - 1) / columns;
    for (size_t k = 0; k < cells.size(); ++k) {
        const int row = static_cast<int>(k) / columns, column = static_cast<int>(k) % columns;
        const int paths =
            NumberedSquare(plot, column * LadderPitch, (rows - 1 - row) * RowPitch, static_cast<int>(k) + 1);
        pathTools.insert(pathTools.end(), static_cast<size_t>(paths), cells[k]);
    }
}

ToolSteps ParseToolSteps(std::string_view text, std::string_view what)
{
    const std::vector<std::string> parts = Split(text, ':');
    std::optional<int> values[3];
    for (size_t i = 0; parts.size() == 3 && i < 3; ++i)
        values[i] = IntFromText(parts[i]);
    if (!values[0] || !values[1] || !values[2])
        throw EConvertError(
            Format("\"%1\" is not a row of %2; use FROM:TO:STEP in whole numbers such as 2:10:2", Quoted(text), what));
    return {*values[0], *values[1], *values[2]};
}

std::vector<int> ToolStepValues(const ToolSteps& s, std::string_view what)
{
    if (s.From < 1 || s.To < s.From || s.Step < 1 || (s.To - s.From) % s.Step != 0)
        throw EConvertError(Format("The %1 must rise from FROM (1 or more) to TO in whole steps that lead to TO; "
                                   "%2:%3:%4 does not",
                                   what, s.From, s.To, s.Step));
    const int count = (s.To - s.From) / s.Step + 1;
    if (count > MaxLadderSquares)
        throw EConvertError(Format("%1 %2 are too many for one grid; at most %3 cells fit its numbering", count, what,
                                   MaxLadderSquares));
    std::vector<int> values;
    for (int i = 0; i < count; ++i)
        values.push_back(s.From + i * s.Step);
    return values;
}

void MakeTestCutPattern(TPLT& plot)
{
    plot.Reset();
    SquareWithTriangle(plot, 0, 0);
}

void MakeSquarePattern(TPLT& plot, double widthMm, double heightMm)
{
    plot.Reset();
    const std::int32_t m = Units(SquareMarginMm), w = Units(widthMm), h = Units(heightMm);
    Path(plot, {{m, m}, {m + w, m}, {m + w, m + h}, {m, m + h}, {m, m}});
    // Ticks along each diagonal's line, 2 to 6 mm out from the corner; a
    // second one 1.5 mm beside the first at diagonal B's corners.
    struct Corner {
        std::int32_t X, Y, DirX, DirY;
        int Ticks;
    };
    const Corner corners[] = {{m, m, -1, -1, 1}, {m + w, m + h, 1, 1, 1}, {m + w, m, 1, -1, 2}, {m, m + h, -1, 1, 2}};
    for (const Corner& c : corners) {
        const double len = std::hypot(widthMm, heightMm);
        const double ux = c.DirX * widthMm / len, uy = c.DirY * heightMm / len; // outward along the diagonal
        for (int t = 0; t < c.Ticks; ++t) {
            const double side = t * 1.5; // beside, across the diagonal
            const double sx = -uy * side, sy = ux * side;
            const auto at = [&](double out) { return TPoint{c.X + Units(ux * out + sx), c.Y + Units(uy * out + sy)}; };
            Path(plot, {at(2), at(6)});
        }
    }
}

void CheckPatternFits(const TPLT& plot, const std::string& what, double widthMm, double heightMm)
{
    const TRect b = plot.Bound();
    const double w = (static_cast<double>(b.Right) - b.Left) / 100, h = (static_cast<double>(b.Top) - b.Bottom) / 100;
    if (w <= widthMm + 1e-9 && h <= heightMm + 1e-9)
        return;
    throw EConvertError(
        Format("The %1 (%2 x %3 mm) does not fit the sheet's %4 x %5 mm", what, w, h, widthMm, heightMm));
}
