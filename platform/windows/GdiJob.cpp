#include "platform/windows/GdiJob.h"

#include "common/Exceptions.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int HimetricPerInch = 2540;

int Clamp32(std::int64_t v)
{
    constexpr std::int64_t Low = std::numeric_limits<int>::min();
    constexpr std::int64_t High = std::numeric_limits<int>::max();
    return static_cast<int>(v < Low ? Low : v > High ? High : v);
}

} // namespace

GdiSurface::GdiSurface(HDC dc, const Page& page)
    : FDc(dc), FPage(page),
      FMapping(page.UnitDpi > 0 ? page.UnitDpi : page.DpiX, page.UnitDpi > 0 ? page.UnitDpi : page.DpiY),
      FClip(page.PaperWidth * 25.4 / page.DpiX, page.PaperHeight * 25.4 / page.DpiY)
{}

void GdiSurface::SetMapMode(int mode)
{
    // An unknown mode is refused and the current one kept, as GDI does.
    if (!FMapping.SetMapMode(mode))
        return;
    if (mode == MM_TEXT) {
        ::SetMapMode(FDc, MM_TEXT);
        return;
    }
    ::SetMapMode(FDc, MM_ANISOTROPIC);
    ::SetWindowExtEx(FDc, HimetricPerInch, HimetricPerInch, nullptr);
    ::SetViewportExtEx(FDc, FPage.DpiX, -FPage.DpiY, nullptr);
}

void GdiSurface::DPtoLP(TPoint* points, int count)
{
    if (FPage.UnitDpi > 0) {
        // Points in the caller's unit, not the device context's.
        for (int i = 0; i < count; ++i)
            points[i] = FMapping.DPtoLP(points[i]);
        return;
    }
    std::vector<POINT> p(static_cast<size_t>(count > 0 ? count : 0));
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = {points[i].X, points[i].Y};
    ::DPtoLP(FDc, p.data(), count);
    for (size_t i = 0; i < p.size(); ++i)
        points[i] = {Clamp32(p[i].x + FOrigin.X), Clamp32(p[i].y + FOrigin.Y)};
}

void GdiSurface::SetViewportOrgEx(int x, int y)
{
    FMapping.SetViewportOrg(x, y);
    if (FPage.UnitDpi > 0) {
        // To the nearest device pixel: at most half a pixel off, 0.02 mm at 600 dpi.
        x = static_cast<int>(std::lround(static_cast<double>(x) * FPage.DpiX / FPage.UnitDpi));
        y = static_cast<int>(std::lround(static_cast<double>(y) * FPage.DpiY / FPage.UnitDpi));
    }
    ::SetViewportOrgEx(FDc, x, y, nullptr);
}

void GdiSurface::SetWindowOrgEx(std::int64_t x, std::int64_t y)
{
    FMapping.SetWindowOrg(x, y);
    FOrigin = {x, y};
}

void GdiSurface::MoveTo(int x, int y)
{
    ::MoveToEx(FDc, Clamp32(x - FOrigin.X), Clamp32(y - FOrigin.Y), nullptr);
}

PointMm GdiSurface::OnPaper(TPoint logical) const
{
    const DevicePointF d = FMapping.LPtoDP(logical);
    const double unitX = FPage.UnitDpi > 0 ? FPage.UnitDpi : FPage.DpiX;
    const double unitY = FPage.UnitDpi > 0 ? FPage.UnitDpi : FPage.DpiY;
    return {FPage.OffsetX * 25.4 / FPage.DpiX + d.X * 25.4 / unitX,
            (FPage.PaperHeight - FPage.OffsetY) * 25.4 / FPage.DpiY - d.Y * 25.4 / unitY};
}

void GdiSurface::Polyline(const TPoint* points, int count)
{
    if (count < 2)
        return;
    std::vector<POINT> p(static_cast<size_t>(count));
    PointMm from;
    for (int i = 0; i < count; ++i) {
        p[static_cast<size_t>(i)] = {Clamp32(points[i].X - FOrigin.X), Clamp32(points[i].Y - FOrigin.Y)};
        // Drawn whole: the page keeps to the paper. What falls on it is
        // counted as the cutter surfaces count it.
        const PointMm to = OnPaper(points[i]);
        if (i > 0) {
            PointMm a = from, b = to;
            FClip.Clip(a, b);
        }
        from = to;
    }
    ::Polyline(FDc, p.data(), count);
}

TGdiJob::TGdiJob(const std::string& device, const std::string& title, int unitDpi) : FDevice(device)
{
    // The spooler is asked first: a device context of a printer it does not
    // have fails with no reason given.
    HANDLE printer = nullptr;
    std::wstring name = Wide(device);
    if (device.empty() || !OpenPrinterW(name.data(), &printer, nullptr)) {
        const DWORD code = device.empty() ? ERROR_INVALID_PRINTER_NAME : GetLastError();
        if (code == ERROR_INVALID_PRINTER_NAME || code == ERROR_INVALID_NAME)
            throw EPrinter("Printer selected is not valid");
        SetLastError(code);
        throw LastOSError();
    }
    ClosePrinter(printer);
    FDc = CreateDCW(L"WINSPOOL", name.c_str(), nullptr, nullptr);
    if (!FDc)
        throw LastOSError();
    const GdiSurface::Page page{GetDeviceCaps(FDc, LOGPIXELSX),
                                GetDeviceCaps(FDc, LOGPIXELSY),
                                GetDeviceCaps(FDc, PHYSICALWIDTH),
                                GetDeviceCaps(FDc, PHYSICALHEIGHT),
                                GetDeviceCaps(FDc, PHYSICALOFFSETX),
                                GetDeviceCaps(FDc, PHYSICALOFFSETY),
                                unitDpi};
    FWidth = GetDeviceCaps(FDc, HORZRES);
    FHeight = GetDeviceCaps(FDc, VERTRES);
    std::wstring docName = Wide(title);
    DOCINFOW doc{};
    doc.cbSize = sizeof doc;
    doc.lpszDocName = docName.c_str();
    const int job = StartDocW(FDc, &doc);
    if (job <= 0) {
        const EOSError e = LastOSError();
        DeleteDC(FDc);
        throw e;
    }
    FJob = job;
    if (StartPage(FDc) <= 0) {
        const EOSError e = LastOSError();
        AbortDoc(FDc);
        DeleteDC(FDc);
        throw e;
    }
    FSurface = std::make_unique<GdiSurface>(FDc, page);
}

TGdiJob::~TGdiJob()
{
    if (!FDone)
        AbortDoc(FDc);
    DeleteDC(FDc);
}

HandedJob TGdiJob::Finish()
{
    if (EndPage(FDc) <= 0)
        throw LastOSError();
    if (EndDoc(FDc) <= 0)
        throw LastOSError();
    FDone = true;
    return {FDevice, FJob};
}
