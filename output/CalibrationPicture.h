#pragma once

// A picture of a calibration pattern, made from the very plot that is cut,
// with marks on what to measure: the scale lines between their ticks (X, Y),
// the square's sides (x, y) and diagonals (A, B, with A's first corner
// ringed), the ladder's and the grid's first cells numbered under their
// tally ticks. A window only draws its paths and texts.

#include "output/Calibration.h"

#include <string>
#include <vector>

// Picture coordinates: from the box's top left corner, y down, in the
// window's own units (device-independent pixels).
struct PicturePoint {
    double X = 0;
    double Y = 0;
    friend bool operator==(const PicturePoint&, const PicturePoint&) = default;
};

// Cut: the pattern's lines. Mark: what the picture adds to them.
enum class PictureInk { Cut, Mark };

struct PicturePath {
    PictureInk Ink = PictureInk::Cut;
    std::vector<PicturePoint> Points;
    // The length this line stands for, where it is one ("X", "A", "x"):
    // its ends are where that length is measured from and to.
    std::string Measures;
};

// A short text centred on its point, Height high.
struct PictureText {
    PicturePoint Centre;
    std::string Text;
    double Height = 0;
};

struct CalibrationPicture {
    double Width = 0;
    double Height = 0;
    double TextHeight = 0;
    // Picture units per plot unit, and where the plot's (0, 0) lands.
    double Scale = 0;
    PicturePoint Origin;
    std::vector<PicturePath> Paths;
    std::vector<PictureText> Texts;

    PicturePoint At(TPoint plotPoint) const { return {Origin.X + plotPoint.X * Scale, Origin.Y - plotPoint.Y * Scale}; }
    bool Empty() const noexcept { return Paths.empty(); }
};

// The pattern's picture in a box of width x height, texts textHeight high.
// Throws as PatternPlot does.
CalibrationPicture PatternPicture(const CalibrationCut& cut, const DeviceSettings& settings, double width,
                                  double height, double textHeight);
