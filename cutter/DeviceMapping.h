#pragma once

// The coordinate mapping of a drawing surface, with the meaning GDI gives map
// modes, viewport and window origins. Shared by every backend's surface.

#include "common/Types.h"

// A device position kept with its fraction: vector output need not snap to
// the device's pixel grid.
struct DevicePointF {
    double X = 0;
    double Y = 0;
};

class DeviceMapping {
public:
    DeviceMapping(int dpiX, int dpiY);

    // MM_TEXT or MM_HIMETRIC; any other mode is refused (false) and the
    // current one kept, as GDI does for an invalid mode.
    bool SetMapMode(int mode);
    int MapMode() const noexcept { return FMode; }
    void SetViewportOrg(int x, int y) noexcept { FViewportOrg = {x, y}; }
    void SetWindowOrg(int x, int y) noexcept { FWindowOrg = {x, y}; }
    TPoint ViewportOrg() const noexcept { return FViewportOrg; }
    TPoint WindowOrg() const noexcept { return FWindowOrg; }

    // Device to logical, rounded to the nearest logical unit (halves away
    // from zero) and clamped to the 32-bit range.
    TPoint DPtoLP(TPoint device) const noexcept;
    // Logical to device, unrounded.
    DevicePointF LPtoDP(TPoint logical) const noexcept;

private:
    int FDpiX;
    int FDpiY;
    int FMode;
    TPoint FViewportOrg;
    TPoint FWindowOrg;
};
