#pragma once

// A job's drawing surface, with the meaning GDI gives these operations.

#include "common/Types.h"
#include "cutter/SheetClip.h"

#include <cstdint>

inline constexpr int MM_TEXT = 1;
inline constexpr int MM_HIMETRIC = 3; // 0.01 mm per logical unit, y up

class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;
    virtual void SetMapMode(int mode) = 0;
    virtual void DPtoLP(TPoint* points, int count) = 0;
    virtual void SetViewportOrgEx(int x, int y) = 0;
    virtual void SetWindowOrgEx(std::int64_t x, std::int64_t y) = 0;
    virtual void MoveTo(int x, int y) = 0;
    virtual void Polyline(const TPoint* points, int count) = 0;
    // Not GDI's: the box (logical units, under the mapping now set) that
    // every line still to be drawn lies in, told before the first. A surface
    // that cuts marks of its own keeps them clear of it.
    virtual void SetDrawingBound(const TRect& /*logical*/) {}
    // Not GDI's: how much of the lines drawn so far falls on the sheet.
    virtual SheetShare Share() const = 0;
};
