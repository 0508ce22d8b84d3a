#pragma once

// The part of a job's drawing surface every kind of job shares: the GDI
// coordinate mapping, the current position, and where a logical point lands
// on the sheet. A surface adds only how it draws a polyline.

#include "cutter/DeviceMapping.h"
#include "cutter/DeviceSettings.h"
#include "cutter/DrawingSurface.h"
#include "cutter/PrintableArea.h"

class MappedSurface : public DrawingSurface {
public:
    void SetMapMode(int mode) final;
    void DPtoLP(TPoint* points, int count) final;
    void SetViewportOrgEx(int x, int y) final;
    void SetWindowOrgEx(std::int64_t x, std::int64_t y) final;
    void MoveTo(int x, int y) final;

protected:
    // dpi is the surface's device resolution: the unit of DPtoLP and the
    // viewport origin.
    MappedSurface(const DeviceSettings& settings, int dpi);

    // A logical point in mm from the sheet's lower-left corner.
    SheetPointMm ToSheet(TPoint logical) const;
    const OrientedPage& Page() const noexcept { return FPage; }

private:
    OrientedPage FPage;
    int FDpi;
    DeviceMapping FMapping;
    TPoint FCurrent;
};
