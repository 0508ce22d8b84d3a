#pragma once

// A driver's job on Windows: one page drawn with GDI on the printer's device
// context (CreateDCW, StartDocW/StartPage/EndPage/EndDoc), the printer's
// driver making of it whatever the device reads.

#include "cutter/DeviceMapping.h"
#include "cutter/DeviceSettings.h"
#include "cutter/DrawingSurface.h"
#include "cutter/SheetClip.h"
#include "platform/Spooler.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct HDC__;

// The drawing surface's operations on the device context, with the meaning
// callers give them: MM_HIMETRIC is 0.01 mm per logical unit, y up. GDI's
// own MM_HIMETRIC scales by the device's size in whole millimetres
// (HORZSIZE, VERTSIZE), which is up to 0.5 % off: the mode is set up
// exactly instead, as MM_ANISOTROPIC with extents 2540 to the device's
// pixels per inch.
class GdiSurface final : public DrawingSurface {
public:
    // dc is drawn on; the rest describe its page: pixels per inch, the
    // paper's size and the printable area's offset on it, in device pixels.
    // UnitDpi is the resolution of the device points callers give (the
    // viewport origin, DPtoLP), the device's own when 0: the printer object
    // speaks of every page in one resolution, whatever the printer's.
    struct Page {
        int DpiX = 0;
        int DpiY = 0;
        int PaperWidth = 0;
        int PaperHeight = 0;
        int OffsetX = 0;
        int OffsetY = 0;
        int UnitDpi = 0;
    };
    GdiSurface(HDC__* dc, const Page& page);

    void SetMapMode(int mode) override;
    void DPtoLP(TPoint* points, int count) override;
    void SetViewportOrgEx(int x, int y) override;
    void SetWindowOrgEx(std::int64_t x, std::int64_t y) override;
    void MoveTo(int x, int y) override;
    void Polyline(const TPoint* points, int count) override;
    SheetShare Share() const override { return FClip.Share(); }

private:
    PointMm OnPaper(TPoint logical) const;

    HDC__* FDc;
    Page FPage;
    DeviceMapping FMapping;
    // The window origin is kept here and taken off every point: GDI holds
    // its mapping in single-precision floats, so an origin of 10^8 units
    // (1 km) would already move lines by whole pixels, and one beyond 32
    // bits cannot be set at all. The device context's own stays at 0.
    TOrigin FOrigin;
    SheetClip FClip;
};

// The page the printer's driver gives for a DEVMODE (empty: the driver's
// defaults): the paper, the printable area's margins and the resolution.
// Portrait, with Landscape set, when the DEVMODE turns the paper; nullopt
// when the printer cannot be asked or the DEVMODE is not one.
std::optional<DeviceSettings> DriverPage(const std::string& device, const std::vector<std::byte>& mode);

// A DEVMODE for a sheet chosen without the system's dialog (kept from an
// earlier run, or given on the command line): the driver's own with the
// orientation and the driver's paper of the sheet's size. Empty when the
// driver's defaults are that sheet already, or it cannot be asked; a size
// the driver has no paper of keeps its default paper.
std::vector<std::byte> ModeForSheet(const std::string& device, const DeviceSettings& sheet);

// The lowest resolution a driver's job is drawn at: coarser, every curve
// of a cut comes out in visible steps.
inline constexpr int LowestDriverDpi = 100;

class TGdiJob {
public:
    // Opens the printer's device context with the DEVMODE (empty: the
    // driver's defaults) and starts the document and its page; unitDpi as in
    // GdiSurface::Page. Throws EPrinter("Printer selected is not valid") for
    // a printer the system does not have, EPrinter with the reason for a
    // DEVMODE that is not one, a resolution below LowestDriverDpi or a page
    // that is not the DEVMODE's paper (nothing reaches the queue then), and
    // EOSError for any other refusal.
    TGdiJob(const std::string& device, const std::string& title, int unitDpi = 0,
            const std::vector<std::byte>& mode = {});
    // Unfinished, the document is aborted: the printer gets none of it.
    ~TGdiJob();
    TGdiJob(const TGdiJob&) = delete;
    TGdiJob& operator=(const TGdiJob&) = delete;

    // The printable area in the device's own pixels.
    int PageWidth() const { return FWidth; }
    int PageHeight() const { return FHeight; }
    // The device context's page as it lies (its orientation already in the
    // width and height, Landscape false).
    const DeviceSettings& Page() const { return FPage; }
    DrawingSurface& Canvas() { return *FSurface; }

    // Ends the page and the document, and returns the job as the spooler
    // took it. Throws EOSError when refused.
    HandedJob Finish();

private:
    std::string FDevice;
    HDC__* FDc = nullptr;
    int FJob = 0;
    int FWidth = 0;
    int FHeight = 0;
    DeviceSettings FPage;
    bool FDone = false;
    std::unique_ptr<GdiSurface> FSurface;
};
