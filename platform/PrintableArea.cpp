#include "platform/PrintableArea.h"

#include <cmath>

OrientedPage OrientPage(const DeviceSettings& s)
{
    if (!s.Landscape)
        return {s.PaperWidthMm, s.PaperHeightMm, s.MarginLeftMm, s.MarginBottomMm, s.MarginRightMm, s.MarginTopMm};
    return {s.PaperHeightMm, s.PaperWidthMm, s.MarginTopMm, s.MarginLeftMm, s.MarginBottomMm, s.MarginRightMm};
}

namespace {
int ToPx(double mm, int dpi)
{
    const double px = std::round(mm * dpi / 25.4);
    if (!(px > 0))
        return 0;
    return px > 2147483647.0 ? 2147483647 : static_cast<int>(px);
}
} // namespace

int PrintableWidthPx(const OrientedPage& p, int dpi)
{
    return ToPx(p.WidthMm - p.MarginLeftMm - p.MarginRightMm, dpi);
}

int PrintableHeightPx(const OrientedPage& p, int dpi)
{
    return ToPx(p.HeightMm - p.MarginBottomMm - p.MarginTopMm, dpi);
}

SheetPointMm DeviceToSheetMm(const OrientedPage& p, int dpi, DevicePointF d)
{
    return {p.MarginLeftMm + d.X * 25.4 / dpi, (p.HeightMm - p.MarginTopMm) - d.Y * 25.4 / dpi};
}
