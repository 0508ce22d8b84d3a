#pragma once

// The cutter's path as a chain of stages, each taking whole paths in and
// passing paths on, so each can be used and tested alone:
//
//   weed box -> clip to the sheet -> axes and scale -> order -> overcut
//            -> blade offset -> the language's encoder
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

// Keeps what falls on the sheet [0, width] x [0, height]: a path leaving it
// goes on as pieces. Counts the plot's share that fell on it.
class ClipStage final : public PathStage {
public:
    ClipStage(PathStage& next, double widthMm, double heightMm) noexcept;
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
class AxesStage final : public PathStage {
public:
    // widthMm x heightMm: the sheet as the job sees it.
    // skewDeg: the cutter's y axis leans by as much (CutterCorrections);
    // the path is sheared back on the cutter's own axes, before its scale.
    AxesStage(PathStage& next, bool rotate90, bool mirrorX, bool mirrorY, double widthMm, double heightMm,
              double scaleXPercent, double scaleYPercent, double skewDeg = 0) noexcept;
    void Path(CutPathItem& path) override;
    void Finish() override { FNext.Finish(); }
    PointMm Map(PointMm sheet) const noexcept;

private:
    PathStage& FNext;
    bool FRotate90;
    bool FMirrorX;
    bool FMirrorY;
    double FWidth;
    double FHeight;
    double FScaleX;
    double FScaleY;
    bool FShear;
    double FShearX;   // x gains y times this
    double FStretchY; // y times this
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

// Cuts paths with the drag knife's blade offset (BladeCompensation).
class BladeStage final : public PathStage {
public:
    // widthMm x heightMm: where the aligning stroke may go; strokeOffsetMm:
    // the job's largest offset.
    BladeStage(EncodeStage& next, double widthMm, double heightMm, double strokeOffsetMm);
    void Path(CutPathItem& path) override;
    void Finish() override { FNext.Finish(); }
    BladeCompensation& Compensation() noexcept { return FCompensation; }

private:
    EncodeStage& FNext;
    BladeCompensation FCompensation;
};
