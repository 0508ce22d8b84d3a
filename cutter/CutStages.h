#pragma once

// The cutter's path as a chain of stages, each taking whole paths in and
// passing paths on, so each can be used and tested alone:
//
//   weed box -> clip to the sheet -> axes, scale and skew
//            -> clip to the sheet on the cutter's axes -> order -> overcut
//            -> blade offset (kept to the sheet too) -> the language's encoder
//
// The second clip keeps the skew's shear from commanding points past the
// sheet's sides; without a skew the first leaves it nothing to do.
//
// A stage that has nothing to do is left out of the chain. Only the order
// stage holds the whole job (it needs every path to choose); the others pass
// each path on as it comes, and the weed box adds its one path at the end.

#include "cutter/CutOrder.h"
#include "cutter/CutterLanguage.h"
#include "cutter/SheetClip.h"
#include "cutter/ToolPath.h"

#include <memory>
#include <optional>
#include <vector>

// A tool-up move to the first point, then cuts through the rest.
struct CutPathItem {
    std::vector<PointMm> Points;
    // The blade offset it is cut with (the ladder gives each square its own).
    double OffsetMm = 0;
    // Clipping: the same drawn path carries on here after leaving the sheet.
    bool Resumes = false;
    // Added by the job itself (the weed box): not part of the plot, so not
    // counted in what fell on the sheet, and cut after the plot.
    bool Added = false;
    // The force and speed it is cut with (the grid gives each cell its own).
    ToolSetting Tool;
};

class PathStage {
public:
    virtual ~PathStage() = default;
    // May change the path in place: it is the stage's to pass on.
    virtual void Path(CutPathItem& path) = 0;
    // No more paths: pass on what is held, then tell the next stage.
    virtual void Finish() = 0;
};

// A rectangle distanceMm outside the bound of every path that went through,
// cut last; paths pass on untouched.
class WeedBoxStage final : public PathStage {
public:
    WeedBoxStage(PathStage& next, double distanceMm, double offsetMm, const ToolSetting& tool = {}) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override;

private:
    PathStage& FNext;
    double FDistance;
    double FOffset;
    ToolSetting FTool;
    PointMm FLow;
    PointMm FHigh;
    bool FAny = false;
};

// Keeps what falls on the sheet (SheetClip): a path leaving it goes on as
// pieces. Counts the plot's share that fell on it.
class ClipStage final : public PathStage {
public:
    ClipStage(PathStage& next, const SheetClip& sheet) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override;
    const SheetShare& Share() const noexcept { return FClip.Share(); }

private:
    void Pass(CutPathItem& piece);

    PathStage& FNext;
    SheetClip FClip;
    SheetClip FAddedClip; // what the job adds is clipped too, but not counted
    CutPathItem FPiece;
};

// The sheet's mm to the cutter's own axes and scale (see CutterSurface.h).
class CutterAxes {
public:
    // widthMm x heightMm: the sheet as the job sees it.
    // skewDeg: the cutter's y axis leans by as much (CutterCorrections);
    // the path is sheared back on the cutter's own axes, before its scale.
    CutterAxes(bool rotate90, bool mirrorX, bool mirrorY, double widthMm, double heightMm, double scaleXPercent,
               double scaleYPercent, double skewDeg = 0) noexcept;
    PointMm Map(PointMm sheet) const noexcept;
    bool Skewed() const noexcept { return FShear; }
    // The sheet in the cutter's numbers: as far along each axis as its
    // edges are commanded (the scale and the y axis' lengthening by the
    // skew make the cut true, so neither cuts anything short); with
    // sheetSides, its sides too, which the skew's shear leans.
    SheetClip CutterSheet(bool sheetSides) const noexcept;

private:
    bool FRotate90;
    bool FMirrorX;
    bool FMirrorY;
    double FWidth;
    double FHeight;
    double FScaleX;
    double FScaleY;
    bool FShear;
    double FSkewRad;
    double FShearX;   // x gains y times this
    double FStretchY; // y times this
};

class AxesStage final : public PathStage {
public:
    AxesStage(PathStage& next, const CutterAxes& axes) noexcept : FNext(next), FAxes(axes) {}
    void Path(CutPathItem& path) override;
    void Finish() override { FNext.Finish(); }

private:
    PathStage& FNext;
    CutterAxes FAxes;
};

// Holds the job and passes it on in the order that cuts it best (CutOrder.h);
// what the job adds goes last, as it came. Finish throws EPrinter, passing
// nothing on, when options.Stopped stops the ordering.
class OrderStage final : public PathStage {
public:
    OrderStage(PathStage& next, const CutOrderOptions& options) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override;
    // Pen-up travel in the drawn order and in the chosen one, once finished.
    double TravelBeforeMm() const noexcept { return FBefore; }
    double TravelAfterMm() const noexcept { return FAfter; }

private:
    PathStage& FNext;
    CutOrderOptions FOptions;
    CutPaths FPaths;
    std::vector<double> FOffsets;
    std::vector<ToolSetting> FTools;
    std::vector<CutPathItem> FAdded;
    double FBefore = 0;
    double FAfter = 0;
};

// The pen-up travel of the job this thread ordered last, as drawn and as
// cut, once: those who only see the job go (the command line's --verbose)
// learn it from the one ordering. Empty when none was ordered since.
struct OrderTravel {
    double BeforeMm = 0;
    double AfterMm = 0;
};
std::optional<OrderTravel> TakeOrderTravel();

// Cuts each closed path on past its start (AppendOvercut), the length
// measured on the sheet: scaleX and scaleY undo the cutter's scale.
class OvercutStage final : public PathStage {
public:
    OvercutStage(PathStage& next, double lengthMm, double scaleX, double scaleY) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override { FNext.Finish(); }

private:
    PathStage& FNext;
    double FLength;
    double FScaleX;
    double FScaleY;
};

// Writes paths in the cutter's language, each point to the nearest plotter
// unit. Takes paths as they are, or the moves of a BladeCompensation.
class EncodeStage final : public PathStage, public ToolPathSink {
public:
    // dropRepeats: a cut to where the tool already is is left out. Jobs
    // without corrections keep them, as they always had them. own: the
    // force and speed the job began with, set again at its end when a path
    // had others.
    EncodeStage(CutterEncoder& encoder, bool dropRepeats, const ToolSetting& own = {}) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override;
    // The force and speed for the moves that follow; sent when they change.
    void Tool(const ToolSetting& tool);
    void ToolUp(PointMm to) override;
    void Cut(PointMm to) override;

private:
    PlotterPoint Units(PointMm p) const noexcept;

    CutterEncoder& FEncoder;
    double FUnitsPerMm;
    bool FDropRepeats;
    ToolSetting FOwn;
    ToolSetting FTool;
    PlotterPoint FAt;
};

// The knife's moves kept to the sheet: a cut leaving it ends at its edge and
// the knife goes up to where the cut comes back. Counts what it left off of
// the plot's paths (not of what the job adds).
class SheetEdgeSink final : public ToolPathSink {
public:
    SheetEdgeSink(ToolPathSink& next, const SheetClip& sheet) noexcept;
    void ToolUp(PointMm to) override;
    void Cut(PointMm to) override;
    void CountingPlot(bool counting) noexcept { FCounting = counting; }
    double LeftOffMm() const noexcept { return FLeftOff; }

private:
    ToolPathSink& FNext;
    SheetClip FClip;
    PointMm FAt;
    bool FUp = true; // the knife has still to be put down where it is
    bool FCounting = true;
    double FLeftOff = 0;
};

// Cuts paths with the drag knife's blade offset (BladeCompensation), kept
// to the sheet: the arcs round corners near an edge, and the run past a
// path's end, are cut short there.
class BladeStage final : public PathStage {
public:
    // sheet: where the knife may go, the aligning stroke included;
    // strokeOffsetMm: the job's largest offset.
    BladeStage(EncodeStage& next, const SheetClip& sheet, double strokeOffsetMm);
    void Path(CutPathItem& path) override;
    void Finish() override { FNext.Finish(); }
    BladeCompensation& Compensation() noexcept { return FCompensation; }
    // Of the knife's path for the plot, what the sheet's edges cut off, in
    // mm on the sheet.
    double LeftOffMm() const noexcept { return FEdge.LeftOffMm(); }

private:
    EncodeStage& FNext;
    SheetEdgeSink FEdge;
    BladeCompensation FCompensation;
};
