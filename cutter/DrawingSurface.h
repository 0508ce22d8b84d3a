#pragma once

// A job's drawing surface, with the meaning GDI gives these operations.

#include "common/Types.h"

inline constexpr int MM_TEXT = 1;
inline constexpr int MM_HIMETRIC = 3; // 0.01 mm per logical unit, y up

class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;
    virtual void SetMapMode(int mode) = 0;
    virtual void DPtoLP(TPoint* points, int count) = 0;
    virtual void SetViewportOrgEx(int x, int y) = 0;
    virtual void SetWindowOrgEx(int x, int y) = 0;
    virtual void MoveTo(int x, int y) = 0;
    virtual void Polyline(const TPoint* points, int count) = 0;
};
