#include "cutter/MappedSurface.h"

MappedSurface::MappedSurface(const DeviceSettings& settings, int dpi)
    : FPage(OrientPage(settings)), FDpi(dpi > 0 ? dpi : 1), FMapping(dpi, dpi)
{}

void MappedSurface::SetMapMode(int mode)
{
    FMapping.SetMapMode(mode);
}

void MappedSurface::DPtoLP(TPoint* points, int count)
{
    for (int i = 0; i < count; ++i)
        points[i] = FMapping.DPtoLP(points[i]);
}

void MappedSurface::SetViewportOrgEx(int x, int y)
{
    FMapping.SetViewportOrg(x, y);
}

void MappedSurface::SetWindowOrgEx(std::int64_t x, std::int64_t y)
{
    FMapping.SetWindowOrg(x, y);
}

void MappedSurface::MoveTo(int x, int y)
{
    FCurrent = {x, y};
}

SheetPointMm MappedSurface::ToSheet(TPoint logical) const
{
    return DeviceToSheetMm(FPage, FDpi, FMapping.LPtoDP(logical));
}
