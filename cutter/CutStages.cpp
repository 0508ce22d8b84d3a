#include "cutter/CutStages.h"

#include "common/Exceptions.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>

WeedBoxStage::WeedBoxStage(PathStage& next, double distanceMm, double offsetMm, const ToolSetting& tool) noexcept
    : FNext(next), FDistance(distanceMm), FOffset(offsetMm), FTool(tool)
{}

void WeedBoxStage::Path(CutPathItem& path)
{
    for (const PointMm p : path.Points) {
        if (!FAny)
            FLow = FHigh = p;
        FAny = true;
        FLow = {std::min(FLow.X, p.X), std::min(FLow.Y, p.Y)};
        FHigh = {std::max(FHigh.X, p.X), std::max(FHigh.Y, p.Y)};
    }
    FNext.Path(path);
}

void WeedBoxStage::Finish()
{
    CutPathItem box{WeedBox({{FLow, FHigh}}, FDistance), FOffset, false, true, FTool};
    if (FAny && !box.Points.empty())
        FNext.Path(box);
    FNext.Finish();
}

ClipStage::ClipStage(PathStage& next, const SheetClip& sheet) noexcept : FNext(next), FClip(sheet), FAddedClip(sheet)
{}

void ClipStage::Pass(CutPathItem& piece)
{
    if (piece.Points.size() >= 2)
        FNext.Path(piece);
    piece.Points.clear();
}

void ClipStage::Path(CutPathItem& path)
{
    SheetClip& clip = path.Added ? FAddedClip : FClip;
    FPiece.Points.clear();
    FPiece.OffsetMm = path.OffsetMm;
    FPiece.Added = path.Added;
    FPiece.Tool = path.Tool;
    // A piece an earlier clip cut carries on as it did.
    FPiece.Resumes = path.Resumes;
    bool cutting = false; // the piece ends where this segment starts
    for (size_t i = 1; i < path.Points.size(); ++i) {
        PointMm a = path.Points[i - 1], b = path.Points[i];
        const SheetClip::Kept kept = clip.Clip(a, b);
        if (kept == SheetClip::Kept::None) {
            Pass(FPiece);
            FPiece.Resumes = false;
            cutting = false;
            continue;
        }
        // Back on the sheet somewhere else: the piece so far goes on alone.
        if (cutting && !(a == FPiece.Points.back())) {
            Pass(FPiece);
            FPiece.Resumes = true;
        }
        if (FPiece.Points.empty())
            FPiece.Points.push_back(a);
        FPiece.Points.push_back(b);
        cutting = true;
    }
    Pass(FPiece);
}

void ClipStage::Finish()
{
    FNext.Finish();
}

CutterAxes::CutterAxes(bool rotate90, bool mirrorX, bool mirrorY, double widthMm, double heightMm, double scaleXPercent,
                       double scaleYPercent, double skewDeg) noexcept
    : FRotate90(rotate90), FMirrorX(mirrorX), FMirrorY(mirrorY), FWidth(widthMm), FHeight(heightMm),
      FScaleX((rotate90 ? scaleYPercent : scaleXPercent) / 100),
      FScaleY((rotate90 ? scaleXPercent : scaleYPercent) / 100), FShear(skewDeg != 0),
      FSkewRad(skewDeg * std::numbers::pi / 180), FShearX(std::tan(FSkewRad)), FStretchY(1 / std::cos(FSkewRad))
{}

SheetClip CutterAxes::CutterSheet(bool sheetSides) const noexcept
{
    // Computed as Map computes the far corner, so a point on an edge is on
    // the clip's edge to the last bit.
    const double extentX = FRotate90 ? FHeight : FWidth, extentY = FRotate90 ? FWidth : FHeight;
    const double lean = sheetSides && FShear ? std::sin(FSkewRad) * FScaleX / FScaleY : 0;
    return SheetClip(extentX * FScaleX, extentY * FStretchY * FScaleY, lean,
                     {1 / FScaleX, -std::sin(FSkewRad) / FScaleY, std::cos(FSkewRad) / FScaleY});
}

PointMm CutterAxes::Map(PointMm s) const noexcept
{
    double x = s.X, y = s.Y;
    double extentX = FWidth, extentY = FHeight;
    if (FRotate90) {
        x = s.Y;
        y = FWidth - s.X;
        extentX = FHeight;
        extentY = FWidth;
    }
    if (FMirrorX)
        x = extentX - x;
    if (FMirrorY)
        y = extentY - y;
    // A cutter whose y axis leans by e moves a command (u, v) to
    // (u - v sin e, v cos e): commanding (x + y tan e, y / cos e) puts the
    // knife at (x, y).
    if (FShear) {
        x += y * FShearX;
        y *= FStretchY;
    }
    // Times exactly 1 when uncorrected: the same numbers as without scale.
    return {x * FScaleX, y * FScaleY};
}

void AxesStage::Path(CutPathItem& path)
{
    for (PointMm& p : path.Points)
        p = FAxes.Map(p);
    FNext.Path(path);
}

OrderStage::OrderStage(PathStage& next, const CutOrderOptions& options) noexcept : FNext(next), FOptions(options)
{}

void OrderStage::Path(CutPathItem& path)
{
    if (path.Added) {
        FAdded.push_back(std::move(path));
        return;
    }
    FPaths.push_back(std::move(path.Points));
    FOffsets.push_back(path.OffsetMm);
    FTools.push_back(path.Tool);
}

namespace {

thread_local std::optional<OrderTravel> LastTravel;

} // namespace

std::optional<OrderTravel> TakeOrderTravel()
{
    return std::exchange(LastTravel, std::nullopt);
}

void OrderStage::Finish()
{
    const CutOrder order = OrderCuts(FPaths, FOptions);
    if (order.Stopped)
        throw EPrinter("The job was stopped while its cuts were being put in order: nothing was cut");
    FBefore = order.TravelBeforeMm;
    FAfter = order.TravelAfterMm;
    LastTravel = OrderTravel{FBefore, FAfter};
    // Each path moved on as it goes, so the job is never held twice.
    for (const CutStep& step : order.Steps) {
        CutPathItem item{std::move(FPaths[step.Index]), FOffsets[step.Index], false, false, FTools[step.Index]};
        ApplyCutStep(item.Points, step);
        FNext.Path(item);
    }
    FPaths.clear();
    for (CutPathItem& added : FAdded)
        FNext.Path(added);
    FAdded.clear();
    FNext.Finish();
}

OvercutStage::OvercutStage(PathStage& next, double lengthMm, double scaleX, double scaleY) noexcept
    : FNext(next), FLength(lengthMm), FScaleX(scaleX), FScaleY(scaleY)
{}

void OvercutStage::Path(CutPathItem& path)
{
    AppendOvercut(path.Points, FLength, FScaleX, FScaleY);
    FNext.Path(path);
}

EncodeStage::EncodeStage(CutterEncoder& encoder, bool dropRepeats, const ToolSetting& own) noexcept
    : FEncoder(encoder), FUnitsPerMm(encoder.UnitsPerMm()), FDropRepeats(dropRepeats), FOwn(own), FTool(own)
{}

void EncodeStage::Tool(const ToolSetting& tool)
{
    if (tool == FTool)
        return;
    FTool = tool;
    FEncoder.SetTool(tool);
}

void EncodeStage::Finish()
{
    // The cutter is not left at the last grid cell's force.
    Tool(FOwn);
}

PlotterPoint EncodeStage::Units(PointMm p) const noexcept
{
    return {ToPlotterUnits(p.X, FUnitsPerMm), ToPlotterUnits(p.Y, FUnitsPerMm)};
}

void EncodeStage::Path(CutPathItem& path)
{
    if (path.Points.size() < 2)
        return;
    Tool(path.Tool);
    if (FDropRepeats) {
        ToolUp(path.Points.front());
        for (size_t i = 1; i < path.Points.size(); ++i)
            Cut(path.Points[i]);
        return;
    }
    // Back on the sheet within the same plotter unit: the knife stays down.
    const PlotterPoint start = Units(path.Points.front());
    if (!path.Resumes || start != FAt)
        FEncoder.MoveTo(start);
    for (size_t i = 1; i < path.Points.size(); ++i) {
        FAt = Units(path.Points[i]);
        FEncoder.CutTo(FAt);
    }
}

void EncodeStage::ToolUp(PointMm to)
{
    FAt = Units(to);
    FEncoder.MoveTo(FAt);
}

void EncodeStage::Cut(PointMm to)
{
    const PlotterPoint p = Units(to);
    if (p == FAt)
        return;
    FAt = p;
    FEncoder.CutTo(p);
}

SheetEdgeSink::SheetEdgeSink(ToolPathSink& next, const SheetClip& sheet) noexcept : FNext(next), FClip(sheet)
{}

void SheetEdgeSink::ToolUp(PointMm to)
{
    // Sent with the first cut from here: the place may be off the sheet.
    FAt = to;
    FUp = true;
}

void SheetEdgeSink::Cut(PointMm to)
{
    const PointMm from = FAt;
    PointMm a = from, b = to;
    const SheetShare before = FClip.Share();
    const SheetClip::Kept kept = FClip.Clip(a, b);
    if (FCounting)
        FLeftOff += (FClip.Share().TotalMm - before.TotalMm) - (FClip.Share().KeptMm - before.KeptMm);
    FAt = to;
    if (kept == SheetClip::Kept::None)
        return;
    if (FUp) {
        FNext.ToolUp(a);
        FUp = false;
    } else if (!(a == from)) {
        // Back from a run or a turn past the edge: the holder goes straight
        // along the sheet to where it comes back, the knife down, so the
        // blade turns on much as it would have (lifted, it would keep its
        // old heading and land askew).
        FNext.Cut(a);
    }
    FNext.Cut(b);
}

BladeStage::BladeStage(EncodeStage& next, const SheetClip& sheet, double strokeOffsetMm)
    : FNext(next), FEdge(next, sheet), FCompensation(FEdge, sheet.Width(), sheet.Height(), strokeOffsetMm, sheet.Lean())
{}

void BladeStage::Path(CutPathItem& path)
{
    if (path.Points.empty())
        return;
    FEdge.CountingPlot(!path.Added);
    FNext.Tool(path.Tool);
    FCompensation.SetOffset(path.OffsetMm);
    FCompensation.MoveTo(path.Points.front());
    for (size_t i = 1; i < path.Points.size(); ++i)
        FCompensation.CutTo(path.Points[i]);
}
