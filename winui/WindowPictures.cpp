#include "winui/WindowPictures.h"

#include "output/PagePlacement.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

#include <algorithm>
#include <cmath>

namespace winui {

namespace {

const COLORREF DotGrey = RGB(128, 128, 128);
const COLORREF BarGrey = RGB(173, 170, 156);
const COLORREF LineGrey = RGB(64, 64, 64);
constexpr int BarHeight = 4;
constexpr int BarLeft = 6;
constexpr std::int32_t PageW = 21000;  // 210 mm
constexpr std::int32_t PageH = -29700; // the page's bottom edge, y up

int Px(double v, double scale)
{
    return static_cast<int>(std::lround(v * scale));
}

void Dots(HDC dc, const RECT& area, const std::vector<TSampleDots::Dot>& at, double radius, double scale)
{
    const HBRUSH brush = CreateSolidBrush(DotGrey);
    const HGDIOBJ oldBrush = SelectObject(dc, brush);
    const HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    // A null pen leaves the ellipse a pixel short: one more on each side.
    const int r = std::max(1, Px(radius, scale));
    for (const TSampleDots::Dot& d : at) {
        const int x = area.left + Px(d.X, scale);
        const int y = area.top + Px(d.Y, scale);
        Ellipse(dc, x - r, y - r, x + r + 1, y + r + 1);
    }
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
}

void Line(HDC dc, int x0, int y0, int x1, int y1)
{
    MoveToEx(dc, x0, y0, nullptr);
    LineTo(dc, x1, y1);
}

} // namespace

TSampleDots SampleDots()
{
    TPLT plt;
    ReadPlotText(plt, BuiltInSampleLines());
    TSampleDots dots;
    dots.Bound = plt.Bound();
    for (const TPolygonView& p : plt.Polygons())
        dots.Centres.push_back(
            {(double(p.Bound.Left) + p.Bound.Right) / 2.0, (double(p.Bound.Top) + p.Bound.Bottom) / 2.0});
    return dots;
}

TSampleDots::Dot PreviewPoint(const TSampleDots::Dot& centre, const TRect& bound, int index)
{
    const double scale = double(SheetHeight) / -PageH;
    const auto origin = PlacementOrigin(bound, PageW, PageH, index);
    const double x0 = origin ? static_cast<double>(origin->X) : 0;
    const double y0 = origin ? static_cast<double>(origin->Y) : 0;
    // Logical (x0, y0) sits on the page's lower-left corner, y grows up.
    return {(centre.X - x0) * scale, SheetHeight - (centre.Y - y0) * scale};
}

void DrawPreview(HDC dc, const RECT& area, const TSampleDots& dots, int index, double scale)
{
    if (index < 0 || index > 8)
        return;
    std::vector<TSampleDots::Dot> at;
    for (const TSampleDots::Dot& c : dots.Centres)
        at.push_back(PreviewPoint(c, dots.Bound, index));
    Dots(dc, area, at, 1.1, scale);
    const RECT bar{area.left + Px(BarLeft, scale), area.top + Px(PreviewHeight - BarHeight, scale),
                   area.left + Px(PreviewWidth, scale), area.top + Px(PreviewHeight, scale)};
    const HBRUSH brush = CreateSolidBrush(BarGrey);
    FillRect(dc, &bar, brush);
    DeleteObject(brush);
}

void DrawSizePicture(HDC dc, const RECT& area, const TSampleDots& dots, double scale)
{
    const TRect& b = dots.Bound;
    if (b.Right <= b.Left || b.Top <= b.Bottom)
        return;
    // The lettering 78 pixels wide, its dimensions above and to the right.
    const double left = 2, top = 17, width = 78;
    const double height = width * (b.Top - b.Bottom) / (b.Right - b.Left);
    const double k = width / (b.Right - b.Left);
    std::vector<TSampleDots::Dot> at;
    for (const TSampleDots::Dot& c : dots.Centres)
        at.push_back({left + (c.X - b.Left) * k, top + height - (c.Y - b.Bottom) * k});
    Dots(dc, area, at, 1.2, scale);

    const HPEN pen = CreatePen(PS_SOLID, std::max(1, Px(1, scale)), LineGrey);
    const HGDIOBJ oldPen = SelectObject(dc, pen);
    const int x0 = area.left + Px(left, scale), x1 = area.left + Px(left + width, scale);
    const int yh = area.top + Px(13, scale), tick = Px(3, scale);
    Line(dc, x0, yh, x1, yh);
    Line(dc, x0, yh - tick, x0, yh + tick + 1);
    Line(dc, x1, yh - tick, x1, yh + tick + 1);
    const int xv = area.left + Px(left + width + 5, scale);
    const int y0 = area.top + Px(top, scale), y1 = area.top + Px(top + height, scale);
    Line(dc, xv, y0, xv, y1);
    Line(dc, xv - tick, y0, xv + tick + 1, y0);
    Line(dc, xv - tick, y1, xv + tick + 1, y1);
    SelectObject(dc, oldPen);
    DeleteObject(pen);

    const HFONT font = CreateFontW(-Px(9, scale), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma");
    const HGDIOBJ oldFont = SelectObject(dc, font);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    RECT above{x0, area.top, x1, area.top + Px(11, scale)};
    DrawTextW(dc, L"111mm", -1, &above, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    RECT right{xv + Px(3, scale), y0, area.right, y1};
    DrawTextW(dc, L"32mm", -1, &right, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOCLIP);
    SelectObject(dc, oldFont);
    DeleteObject(font);
}

} // namespace winui
