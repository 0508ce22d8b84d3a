#pragma once

// Drawing a plot on a job's surface the way printing a plot does, and the
// cutter job it makes: for the programs that check the cutter surface.

#include "cutter/CutterSurface.h"

#include <QByteArray>
#include <QMetaType>

#include <algorithm>
#include <cstdint>
#include <vector>

Q_DECLARE_METATYPE(SendAs)
Q_DECLARE_METATYPE(TPoint)
Q_DECLARE_METATYPE(DeviceSettings)
using Plot = std::vector<std::vector<TPoint>>;
Q_DECLARE_METATYPE(Plot)

constexpr int Dpi = 2540;

inline DeviceSettings Sheet(double w, double h, double l = 0, double b = 0, double r = 0, double t = 0,
                            bool landscape = false)
{
    DeviceSettings s;
    s.PaperWidthMm = w;
    s.PaperHeightMm = h;
    s.MarginLeftMm = l;
    s.MarginBottomMm = b;
    s.MarginRightMm = r;
    s.MarginTopMm = t;
    s.Landscape = landscape;
    return s;
}

// What printing a plot does to its surface, with the given window origin.
inline void Print(DrawingSurface& surface, const OrientedPage& page, TPoint origin, const Plot& plot)
{
    const int pageH = PrintableHeightPx(page, Dpi);
    surface.SetMapMode(MM_HIMETRIC);
    TPoint corners[2] = {{0, 0}, {PrintableWidthPx(page, Dpi), pageH}};
    surface.DPtoLP(corners, 2);
    surface.SetViewportOrgEx(0, pageH);
    surface.SetWindowOrgEx(origin.X, origin.Y);
    surface.MoveTo(0, 0);
    TRect bound{INT32_MAX, INT32_MIN, INT32_MIN, INT32_MAX};
    for (const auto& line : plot)
        for (const TPoint& p : line)
            bound = {std::min(bound.Left, p.X), std::max(bound.Top, p.Y), std::max(bound.Right, p.X),
                     std::min(bound.Bottom, p.Y)};
    surface.SetDrawingBound(bound);
    for (const auto& line : plot)
        surface.Polyline(line.data(), static_cast<int>(line.size()));
}

inline QByteArray CutterJob(DeviceSettings s, SendAs language, TPoint origin, const Plot& plot)
{
    s.Language = language;
    StringSink sink;
    CutterSurface surface(s, Dpi, sink);
    Print(surface, OrientPage(s), origin, plot);
    surface.Finish();
    return QByteArray::fromStdString(sink.Bytes());
}
