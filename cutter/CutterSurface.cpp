#include "cutter/CutterSurface.h"

#include "common/Exceptions.h"

#include <algorithm>

CutterSurface::CutterSurface(const DeviceSettings& settings, int dpi, ByteSink& sink)
    : MappedSurface(settings, dpi), FRotate90(settings.Rotate90), FMirrorX(settings.MirrorX),
      FMirrorY(settings.MirrorY),
      FScaleX((settings.Rotate90 ? settings.Corrections.ScaleYPercent : settings.Corrections.ScaleXPercent) / 100),
      FScaleY((settings.Rotate90 ? settings.Corrections.ScaleXPercent : settings.Corrections.ScaleYPercent) / 100),
      FCorrections(settings.Corrections), FReshape(ReshapesPath(settings.Corrections)),
      FClip(Page().WidthMm, Page().HeightMm), FEncoder(MakeCutterEncoder(settings.Language, sink))
{
    if (!FEncoder)
        throw EPrinter("No cutter language is chosen for this device");
    FUnitsPerMm = FEncoder->UnitsPerMm();
    double strokeOffset = FCorrections.BladeOffsetMm;
    for (double offset : FCorrections.PathOffsetsMm)
        strokeOffset = std::max(strokeOffset, offset);
    if (strokeOffset > 0) {
        // The sheet in the cutter's scaled numbers, where the cutter's own
        // error puts its edges: the aligning stroke stays on it.
        const bool turned = FRotate90;
        FCompensation = std::make_unique<BladeCompensation>(
            *static_cast<ToolPathSink*>(this), (turned ? Page().HeightMm : Page().WidthMm) * FScaleX,
            (turned ? Page().WidthMm : Page().HeightMm) * FScaleY, strokeOffset);
    }
    FEncoder->Begin();
}

CutterSurface::~CutterSurface() = default;

PointMm CutterSurface::ToPlotterMm(PointMm s) const
{
    double x = s.X, y = s.Y;
    double extentX = Page().WidthMm, extentY = Page().HeightMm;
    if (FRotate90) {
        x = s.Y;
        y = Page().WidthMm - s.X;
        extentX = Page().HeightMm;
        extentY = Page().WidthMm;
    }
    if (FMirrorX)
        x = extentX - x;
    if (FMirrorY)
        y = extentY - y;
    // Times exactly 1 when uncorrected: the same numbers as without scale.
    return {x * FScaleX, y * FScaleY};
}

PointMm CutterSurface::SheetMm(TPoint logical) const
{
    const SheetPointMm s = ToSheet(logical);
    return {s.X, s.Y};
}

PlotterPoint CutterSurface::ToPlotter(PointMm p) const
{
    return {ToPlotterUnits(p.X, FUnitsPerMm), ToPlotterUnits(p.Y, FUnitsPerMm)};
}

void CutterSurface::SetDrawingBound(const TRect& logical)
{
    if (!FCompensation || logical.Left > logical.Right || logical.Bottom > logical.Top)
        return;
    // The mapping turns, mirrors and scales the box into another upright box.
    const PointMm a = ToPlotterMm(SheetMm({logical.Left, logical.Bottom}));
    const PointMm b = ToPlotterMm(SheetMm({logical.Right, logical.Top}));
    FCompensation->KeepClearOf({std::min(a.X, b.X), std::min(a.Y, b.Y)}, {std::max(a.X, b.X), std::max(a.Y, b.Y)});
}

SheetShare CutterSurface::Share() const
{
    SheetShare share = FClip.Share();
    share.AlignStrokeLeftOut = FCompensation && FCompensation->AlignLeftOut();
    return share;
}

void CutterSurface::Polyline(const TPoint* points, int count)
{
    // A single point would only plunge the blade: nothing to cut.
    const size_t pathIndex = FPathIndex++;
    if (FFinished || !points || count < 2)
        return;
    if (FReshape) {
        if (FCompensation)
            FCompensation->SetOffset(pathIndex < FCorrections.PathOffsetsMm.size()
                                         ? FCorrections.PathOffsetsMm[pathIndex]
                                         : FCorrections.BladeOffsetMm);
        ReshapedPolyline(points, count);
        return;
    }
    bool cutting = false; // the tool is down at "at"
    PlotterPoint at;
    PointMm from = SheetMm(points[0]);
    for (int i = 1; i < count; ++i) {
        const PointMm to = SheetMm(points[i]);
        PointMm a = from, b = to;
        from = to;
        const SheetClip::Kept kept = FClip.Clip(a, b);
        if (kept == SheetClip::Kept::None) {
            cutting = false;
            continue;
        }
        // A whole segment starts where the last one ended, on the sheet.
        if (!cutting || kept != SheetClip::Kept::Whole) {
            const PlotterPoint start = ToPlotter(ToPlotterMm(a));
            if (!cutting || start != at)
                FEncoder->MoveTo(start);
        }
        at = ToPlotter(ToPlotterMm(b));
        FEncoder->CutTo(at);
        cutting = true;
    }
}

// As Polyline, for a path that offset or overcut rework: in mm until the
// last step, so nothing is rounded twice.
void CutterSurface::ReshapedPolyline(const TPoint* points, int count)
{
    FPath.clear();
    for (int i = 0; i < count; ++i)
        FPath.push_back(SheetMm(points[i]));
    if (points[0] == points[count - 1])
        AppendOvercut(FPath, FCorrections.OvercutMm);
    bool cutting = false;
    PointMm at;
    for (size_t i = 1; i < FPath.size(); ++i) {
        PointMm a = FPath[i - 1], b = FPath[i];
        const SheetClip::Kept kept = FClip.Clip(a, b);
        if (kept == SheetClip::Kept::None) {
            cutting = false;
            continue;
        }
        // A whole segment starts where the last one ended.
        const PointMm start = kept == SheetClip::Kept::Whole && cutting ? at : ToPlotterMm(a);
        if (!cutting || !(start == at)) {
            if (FCompensation)
                FCompensation->MoveTo(start);
            else
                ToolUp(start);
        }
        at = ToPlotterMm(b);
        if (FCompensation)
            FCompensation->CutTo(at);
        else
            Cut(at);
        cutting = true;
    }
}

void CutterSurface::ToolUp(PointMm to)
{
    FAt = ToPlotter(to);
    FEncoder->MoveTo(FAt);
}

void CutterSurface::Cut(PointMm to)
{
    const PlotterPoint p = ToPlotter(to);
    if (p == FAt)
        return;
    FAt = p;
    FEncoder->CutTo(p);
}

void CutterSurface::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    FEncoder->End();
}
