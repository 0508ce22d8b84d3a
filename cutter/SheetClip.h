#pragma once

// Keeping a job's lines to its sheet. Only what falls on the sheet is cut, as
// only what falls on a page is printed: past its edges a blade would cut the
// cutter's own strip. Every surface clips with this and adds up what it kept,
// so a job with nothing on the sheet is dropped whatever its destination, and
// the user is told how much of a plot was left out.

#include "cutter/ToolPath.h"

// Lengths of the lines drawn, in mm as cut.
struct SheetShare {
    double TotalMm = 0;
    double KeptMm = 0;
    // A cutter job went without the stroke that aligns its blade: the sheet
    // had no room for it clear of the plot.
    bool AlignStrokeLeftOut = false;
    // Lines were drawn and none of them falls on the sheet (a plot with no
    // lines at all makes a blank job, as ever).
    bool NothingKept() const noexcept { return TotalMm > 0 && !(KeptMm > 0); }
    bool SomeLeftOut() const noexcept { return KeptMm < TotalMm; }
};

// How a clip on the cutter's axes measures what it keeps: a step (dx, dy) on
// those axes is (XX dx + XY dy, YY dy) on the sheet, with the cutter's scale
// and skew undone, so every share is told in the sheet's mm.
struct SheetMeasure {
    double XX = 1;
    double XY = 0;
    double YY = 1;
};

// The sheet is [0, width] x [0, height]; its edges belong to it. With a
// lean, it is also where 0 <= x - lean y <= width: the sheet's own sides as a
// skewed cutter's numbers have them.
class SheetClip {
public:
    enum class Kept { None, Whole, Part };

    SheetClip(double widthMm, double heightMm, double lean = 0, SheetMeasure measure = {}) noexcept
        : FWidth(widthMm), FHeight(heightMm), FLean(lean), FMeasure(measure)
    {}

    // Cuts the line a to b down to its part on the sheet (Liang-Barsky) and
    // counts it. None when nothing of it is on the sheet, or only a point
    // where it touches an edge.
    Kept Clip(PointMm& a, PointMm& b) noexcept;
    const SheetShare& Share() const noexcept { return FShare; }
    double Width() const noexcept { return FWidth; }
    double Height() const noexcept { return FHeight; }
    double Lean() const noexcept { return FLean; }

private:
    bool OnSheet(PointMm p) const noexcept
    {
        const double side = p.X - FLean * p.Y;
        return p.X >= 0 && p.X <= FWidth && p.Y >= 0 && p.Y <= FHeight && side >= 0 && side <= FWidth;
    }

    double FWidth;
    double FHeight;
    double FLean;
    SheetMeasure FMeasure;
    SheetShare FShare;
};
