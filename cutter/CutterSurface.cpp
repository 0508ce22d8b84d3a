#include "cutter/CutterSurface.h"

#include "common/Exceptions.h"

#include <algorithm>

CutterSurface::CutterSurface(const DeviceSettings& settings, int dpi, QIODevice& sink)
    : MappedSurface(settings, dpi), FRotate90(settings.Rotate90), FMirrorX(settings.MirrorX),
      FMirrorY(settings.MirrorY),
      FScaleX((settings.Rotate90 ? settings.Corrections.ScaleYPercent : settings.Corrections.ScaleXPercent) / 100),
      FScaleY((settings.Rotate90 ? settings.Corrections.ScaleXPercent : settings.Corrections.ScaleYPercent) / 100),
      FCorrections(settings.Corrections), FReshape(ReshapesPath(settings.Corrections)),
      FEncoder(MakeCutterEncoder(settings.Language, sink))
{
    if (!FEncoder)
        throw EPrinter(QStringLiteral("No cutter language is chosen for this device"));
    FUnitsPerMm = FEncoder->UnitsPerMm();
    double strokeOffset = FCorrections.BladeOffsetMm;
    for (double offset : FCorrections.PathOffsetsMm)
        strokeOffset = std::max(strokeOffset, offset);
    if (strokeOffset > 0) {
        const bool turned = FRotate90;
        FCompensation = std::make_unique<BladeCompensation>(*static_cast<ToolPathSink*>(this),
                                                            turned ? Page().HeightMm : Page().WidthMm,
                                                            turned ? Page().WidthMm : Page().HeightMm, strokeOffset);
    }
    FEncoder->Begin();
}

CutterSurface::~CutterSurface() = default;

namespace {

// Cuts a to b down to the part on the sheet [0, w] x [0, h] (Liang-Barsky);
// false when none of it is, or only a point where it grazes an edge.
bool ClipToSheet(SheetPointMm& a, SheetPointMm& b, double w, double h)
{
    const double dx = b.X - a.X, dy = b.Y - a.Y;
    double t0 = 0, t1 = 1;
    auto edge = [&](double p, double q) {
        if (p == 0)
            return q >= 0;
        const double r = q / p;
        if (p < 0) {
            if (r > t1)
                return false;
            t0 = std::max(t0, r);
        } else {
            if (r < t0)
                return false;
            t1 = std::min(t1, r);
        }
        return true;
    };
    if (!edge(-dx, a.X) || !edge(dx, w - a.X) || !edge(-dy, a.Y) || !edge(dy, h - a.Y))
        return false;
    if (t0 >= t1 && (dx != 0 || dy != 0))
        return false;
    const SheetPointMm start = a;
    if (t1 < 1)
        b = {start.X + t1 * dx, start.Y + t1 * dy};
    if (t0 > 0)
        a = {start.X + t0 * dx, start.Y + t0 * dy};
    return true;
}

} // namespace

PointMm CutterSurface::ToPlotterMm(SheetPointMm s) const
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

PlotterPoint CutterSurface::ToPlotter(SheetPointMm s) const
{
    const PointMm p = ToPlotterMm(s);
    return {ToPlotterUnits(p.X, FUnitsPerMm), ToPlotterUnits(p.Y, FUnitsPerMm)};
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
    // Only what falls on the sheet is cut, as only what falls on a page is
    // printed: past its edges the blade would cut the cutter's own strip.
    const double w = Page().WidthMm, h = Page().HeightMm;
    const auto onSheet = [w, h](SheetPointMm p) { return p.X >= 0 && p.X <= w && p.Y >= 0 && p.Y <= h; };
    bool cutting = false; // the tool is down at "at"
    PlotterPoint at;
    SheetPointMm from = ToSheet(points[0]);
    bool fromOnSheet = onSheet(from);
    for (int i = 1; i < count; ++i) {
        const SheetPointMm to = ToSheet(points[i]);
        const bool toOnSheet = onSheet(to);
        SheetPointMm a = from, b = to;
        const bool whole = fromOnSheet && toOnSheet; // the usual case: nothing to clip
        from = to;
        fromOnSheet = toOnSheet;
        if (!whole && !ClipToSheet(a, b, w, h)) {
            cutting = false;
            continue;
        }
        // An unclipped segment starts where the last one ended, on the sheet.
        if (!cutting || !whole) {
            const PlotterPoint start = ToPlotter(a);
            if (!cutting || start != at)
                FEncoder->MoveTo(start);
        }
        at = ToPlotter(b);
        FEncoder->CutTo(at);
        cutting = true;
    }
}

// As Polyline, for a path that offset or overcut rework: in mm until the
// last step, so nothing is rounded twice.
void CutterSurface::ReshapedPolyline(const TPoint* points, int count)
{
    FPath.clear();
    for (int i = 0; i < count; ++i) {
        const SheetPointMm s = ToSheet(points[i]);
        FPath.push_back({s.X, s.Y});
    }
    if (points[0] == points[count - 1])
        AppendOvercut(FPath, FCorrections.OvercutMm);
    const double w = Page().WidthMm, h = Page().HeightMm;
    const auto onSheet = [w, h](PointMm p) { return p.X >= 0 && p.X <= w && p.Y >= 0 && p.Y <= h; };
    bool cutting = false;
    PointMm at;
    for (size_t i = 1; i < FPath.size(); ++i) {
        SheetPointMm a{FPath[i - 1].X, FPath[i - 1].Y}, b{FPath[i].X, FPath[i].Y};
        const bool whole = onSheet(FPath[i - 1]) && onSheet(FPath[i]); // nothing to clip
        if (!whole && !ClipToSheet(a, b, w, h)) {
            cutting = false;
            continue;
        }
        // An unclipped segment starts where the last one ended.
        const PointMm start = whole && cutting ? at : ToPlotterMm(a);
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
    FAt = {ToPlotterUnits(to.X, FUnitsPerMm), ToPlotterUnits(to.Y, FUnitsPerMm)};
    FEncoder->MoveTo(FAt);
}

void CutterSurface::Cut(PointMm to)
{
    const PlotterPoint p{ToPlotterUnits(to.X, FUnitsPerMm), ToPlotterUnits(to.Y, FUnitsPerMm)};
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
