#include "cutter/CutterSurface.h"

#include "common/Exceptions.h"

#include <algorithm>

CutterSurface::CutterSurface(const DeviceSettings& settings, int dpi, QIODevice& sink)
    : MappedSurface(settings, dpi), FRotate90(settings.Rotate90), FMirrorX(settings.MirrorX),
      FMirrorY(settings.MirrorY), FEncoder(MakeCutterEncoder(settings.Language, sink))
{
    if (!FEncoder)
        throw EPrinter(QStringLiteral("No cutter language is chosen for this device"));
    FUnitsPerMm = FEncoder->UnitsPerMm();
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

PlotterPoint CutterSurface::ToPlotter(SheetPointMm s) const
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
    return {ToPlotterUnits(x, FUnitsPerMm), ToPlotterUnits(y, FUnitsPerMm)};
}

void CutterSurface::Polyline(const TPoint* points, int count)
{
    // A single point would only plunge the blade: nothing to cut.
    if (FFinished || !points || count < 2)
        return;
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

void CutterSurface::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    FEncoder->End();
}
