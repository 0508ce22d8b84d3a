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

// The sheet is [0, width] x [0, height]; its edges belong to it.
class SheetClip {
public:
    enum class Kept { None, Whole, Part };

    SheetClip(double widthMm, double heightMm) noexcept : FWidth(widthMm), FHeight(heightMm) {}

    // Cuts the line a to b down to its part on the sheet (Liang-Barsky) and
    // counts it. None when nothing of it is on the sheet, or only a point
    // where it touches an edge.
    Kept Clip(PointMm& a, PointMm& b) noexcept;
    const SheetShare& Share() const noexcept { return FShare; }

private:
    bool OnSheet(PointMm p) const noexcept { return p.X >= 0 && p.X <= FWidth && p.Y >= 0 && p.Y <= FHeight; }

    double FWidth;
    double FHeight;
    SheetShare FShare;
};
