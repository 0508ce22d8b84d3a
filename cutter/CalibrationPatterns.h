#pragma once

// The plots cut to calibrate a cutter, in hundredths of a mm like every plot:
//   scale:    a line along x and one along y to measure, each of a chosen
//             length between ticks at its ends, told apart by an X and a Y;
//   ladder:   a row of 10 mm squares, each with a triangle inside, each cut
//             with its own blade offset and numbered by tally ticks under it
//             (a long tick for five, a short one for one);
//   test cut: one such square with its triangle;
//   square:   a rectangle to square the axes by, its corners marked outside
//             by ticks along its diagonals: one tick at each end of diagonal
//             A (from the lower left corner), two at each end of B;
//   grid:     the ladder's numbered squares in rows of force steps and
//             columns of speed steps, each cut with its own force and speed.

#include "cutter/CutterCorrections.h"
#include "plot/UPLT.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class CalibrationPattern { Sample, Scale, Ladder, TestCut, Square, Grid };

// "sample", "scale", "ladder", "test-cut", "square", "grid" and back
// (nullopt for none).
std::string_view PatternWord(CalibrationPattern pattern);
std::optional<CalibrationPattern> PatternFromWord(std::string_view word);

inline constexpr double DefaultScaleLengthMm = 200;
inline constexpr double MinScaleLengthMm = 50;
inline constexpr double TestSquareMm = 10;
inline constexpr int MaxLadderSquares = 25;

struct LadderSteps {
    double FromMm = 0;
    double ToMm = 0.5;
    double StepMm = 0.05;
    friend bool operator==(const LadderSteps&, const LadderSteps&) = default;
};

// "FROM:TO:STEP" in mm. Throws EConvertError for anything else.
LadderSteps ParseLadderSteps(std::string_view text);
// The offset of each square, first to last; throws EConvertError for offsets
// out of range, a step that does not divide the span or too many squares.
std::vector<double> LadderOffsets(const LadderSteps& steps);

// A row or column of the grid: whole values in the language's units. Step 0:
// not given (the device's own value for every cell).
struct ToolSteps {
    int From = 0;
    int To = 0;
    int Step = 0;
    friend bool operator==(const ToolSteps&, const ToolSteps&) = default;
};
// "FROM:TO:STEP", whole numbers; what names it in the message. Throws
// EConvertError for anything else.
ToolSteps ParseToolSteps(std::string_view text, std::string_view what);
// The values first to last; throws EConvertError for a step that does not
// lead from FROM to TO, or more than a grid takes. Not checked against a
// language here.
std::vector<int> ToolStepValues(const ToolSteps& steps, std::string_view what);

// The scale pattern's size, for a line of lengthMm.
double ScalePatternWidthMm(double lengthMm);
double ScalePatternHeightMm(double lengthMm);

void MakeScalePattern(TPLT& plot, double lengthMm);
// pathOffsets gets the blade offset of each polyline in order.
void MakeLadderPattern(TPLT& plot, const std::vector<double>& offsets, std::vector<double>& pathOffsets);
void MakeTestCutPattern(TPLT& plot);
// cells: each cell's force and speed, row after row of `columns` cells
// (the first row on top); pathTools gets the setting of each polyline.
void MakeGridPattern(TPLT& plot, const std::vector<ToolSetting>& cells, int columns,
                     std::vector<ToolSetting>& pathTools);

inline constexpr double SquareWidthMm = 200;
inline constexpr double SquareHeightMm = 150;
inline constexpr double MinSquareSideMm = 50;
// Room for the corner ticks on each side of the rectangle.
inline constexpr double SquareMarginMm = 10;
void MakeSquarePattern(TPLT& plot, double widthMm, double heightMm);

// Throws EConvertError, saying by how much, when the plot's bound is larger
// than widthMm x heightMm.
void CheckPatternFits(const TPLT& plot, const std::string& what, double widthMm, double heightMm);
