#include "cutter/PrintableArea.h"

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

DeviceSettings CutterSheet(const std::string& name, double widthMm, double heightMm)
{
    DeviceSettings s;
    s.PaperName = name;
    s.PaperWidthMm = widthMm;
    s.PaperHeightMm = heightMm;
    return s;
}

const DeviceSettings& A4CutterSheet()
{
    static const DeviceSettings sheet = CutterSheet("A4", 210, 297);
    return sheet;
}

const DeviceSettings& LetterCutterSheet()
{
    static const DeviceSettings sheet = CutterSheet("Letter", 215.9, 279.4);
    return sheet;
}

bool SameSheetSize(const DeviceSettings& a, const DeviceSettings& b)
{
    return std::abs(a.PaperWidthMm - b.PaperWidthMm) < 0.05 && std::abs(a.PaperHeightMm - b.PaperHeightMm) < 0.05;
}

const DeviceSettings& CutterSheetFor(const DeviceSettings& paper)
{
    return SameSheetSize(paper, LetterCutterSheet()) ? LetterCutterSheet() : A4CutterSheet();
}

const DeviceSettings* DriverPaperOfSize(const std::vector<DeviceSettings>& papers, const DeviceSettings& sheet)
{
    for (const DeviceSettings& paper : papers)
        if (SameSheetSize(paper, sheet))
            return &paper;
    return nullptr;
}

void TakeSheet(DeviceSettings& s, const DeviceSettings& sheet)
{
    s.PaperName = sheet.PaperName;
    s.PaperWidthMm = sheet.PaperWidthMm;
    s.PaperHeightMm = sheet.PaperHeightMm;
    s.MarginLeftMm = sheet.MarginLeftMm;
    s.MarginBottomMm = sheet.MarginBottomMm;
    s.MarginRightMm = sheet.MarginRightMm;
    s.MarginTopMm = sheet.MarginTopMm;
}
