#include "platform/CutterSurface.h"

#include "common/Exceptions.h"

CutterSurface::CutterSurface(const DeviceSettings& settings, int dpi, QIODevice& sink)
    : FPage(OrientPage(settings)), FDpi(dpi > 0 ? dpi : 1), FRotate90(settings.Rotate90),
      FMirrorX(settings.MirrorX), FMirrorY(settings.MirrorY), FMapping(dpi, dpi),
      FEncoder(MakeCutterEncoder(settings.Language, sink))
{
    if (!FEncoder)
        throw EPrinter(QStringLiteral("No cutter language is chosen for this device"));
    FEncoder->Begin();
}

CutterSurface::~CutterSurface() = default;

void CutterSurface::SetMapMode(int mode)
{
    FMapping.SetMapMode(mode);
}

void CutterSurface::DPtoLP(TPoint* points, int count)
{
    for (int i = 0; i < count; ++i)
        points[i] = FMapping.DPtoLP(points[i]);
}

void CutterSurface::SetViewportOrgEx(int x, int y)
{
    FMapping.SetViewportOrg(x, y);
}

void CutterSurface::SetWindowOrgEx(int x, int y)
{
    FMapping.SetWindowOrg(x, y);
}

void CutterSurface::MoveTo(int x, int y)
{
    FCurrent = {x, y};
}

PlotterPoint CutterSurface::ToPlotter(TPoint logical) const
{
    const SheetPointMm s = DeviceToSheetMm(FPage, FDpi, FMapping.LPtoDP(logical));
    double x = s.X, y = s.Y;
    double extentX = FPage.WidthMm, extentY = FPage.HeightMm;
    if (FRotate90) {
        x = s.Y;
        y = FPage.WidthMm - s.X;
        extentX = FPage.HeightMm;
        extentY = FPage.WidthMm;
    }
    if (FMirrorX)
        x = extentX - x;
    if (FMirrorY)
        y = extentY - y;
    const double perMm = FEncoder->UnitsPerMm();
    return {ToPlotterUnits(x, perMm), ToPlotterUnits(y, perMm)};
}

void CutterSurface::Polyline(const TPoint* points, int count)
{
    // A single point would only plunge the blade: nothing to cut.
    if (FFinished || !points || count < 2)
        return;
    FEncoder->MoveTo(ToPlotter(points[0]));
    for (int i = 1; i < count; ++i)
        FEncoder->CutTo(ToPlotter(points[i]));
}

void CutterSurface::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    FEncoder->End();
}
