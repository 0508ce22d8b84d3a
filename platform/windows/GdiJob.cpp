#include "platform/windows/GdiJob.h"

#include "common/Exceptions.h"
#include "platform/DeviceCapabilities.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <utility>
#include <vector>

namespace {

constexpr int HimetricPerInch = 2540;
// How far a driver's page may be from its paper: a pixel or two of rounding
// at any usable resolution, never a paper of another size.
constexpr double PageToleranceMm = 1;

// The bytes as a DEVMODE: nullptr for none or for bytes that cannot be one
// (shorter than the fields read here, or than they say they are).
const DEVMODEW* ModeOf(const std::vector<std::byte>& mode)
{
    constexpr std::size_t least = offsetof(DEVMODEW, dmLogPixels);
    if (mode.size() < least)
        return nullptr;
    const auto* m = reinterpret_cast<const DEVMODEW*>(mode.data());
    if (m->dmSize < least || std::size_t{m->dmSize} + m->dmDriverExtra != mode.size())
        return nullptr;
    return m;
}

bool Turned(const DEVMODEW& m)
{
    return (m.dmFields & DM_ORIENTATION) && m.dmOrientation == DMORIENT_LANDSCAPE;
}

// The device context's page as it lies, in mm to the hundredth as every
// size in the program; nullopt when the driver gives no page.
std::optional<DeviceSettings> PageOfDc(HDC dc)
{
    const int dpiX = GetDeviceCaps(dc, LOGPIXELSX), dpiY = GetDeviceCaps(dc, LOGPIXELSY);
    const int paperW = GetDeviceCaps(dc, PHYSICALWIDTH), paperH = GetDeviceCaps(dc, PHYSICALHEIGHT);
    const int offX = GetDeviceCaps(dc, PHYSICALOFFSETX), offY = GetDeviceCaps(dc, PHYSICALOFFSETY);
    const int width = GetDeviceCaps(dc, HORZRES), height = GetDeviceCaps(dc, VERTRES);
    if (dpiX <= 0 || dpiY <= 0 || paperW <= 0 || paperH <= 0)
        return std::nullopt;
    const auto mm = [](int pixels, int dpi) { return std::round(pixels * 2540.0 / dpi) / 100; };
    DeviceSettings s = FallbackSettings();
    s.PaperWidthMm = mm(paperW, dpiX);
    s.PaperHeightMm = mm(paperH, dpiY);
    s.MarginLeftMm = mm(offX, dpiX);
    s.MarginTopMm = mm(offY, dpiY);
    s.MarginRightMm = std::max(0.0, mm(paperW - offX - width, dpiX));
    s.MarginBottomMm = std::max(0.0, mm(paperH - offY - height, dpiY));
    s.ResolutionDpi = dpiX;
    return s;
}

void NamePaper(DeviceSettings& s)
{
    const auto sized = [&s](double w, double h) {
        return std::abs(s.PaperWidthMm - w) < 1 && std::abs(s.PaperHeightMm - h) < 1;
    };
    s.PaperName = sized(210, 297)       ? "A4"
                  : sized(215.9, 279.4) ? "Letter"
                                        : Format("Custom.%1x%2mm", s.PaperWidthMm, s.PaperHeightMm);
}

struct DriverPaper {
    WORD Number;
    double WidthMm, HeightMm; // upright
};

// The papers the driver has, with their sizes.
std::vector<DriverPaper> DriverPapers(const std::wstring& device, const DEVMODEW& m)
{
    const int n = DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERS, nullptr, &m);
    std::vector<WORD> numbers(static_cast<std::size_t>(std::max(n, 0)));
    std::vector<POINT> sizes(numbers.size());
    std::vector<DriverPaper> papers;
    if (n > 0
        && DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERS, reinterpret_cast<wchar_t*>(numbers.data()), &m) == n
        && DeviceCapabilitiesW(device.c_str(), nullptr, DC_PAPERSIZE, reinterpret_cast<wchar_t*>(sizes.data()), &m)
               == n)
        for (std::size_t i = 0; i < numbers.size(); ++i)
            papers.push_back({numbers[i], sizes[i].x / 10.0, sizes[i].y / 10.0});
    return papers;
}

// The paper a DEVMODE asks for, as it lies, in mm; nullopt when it names
// none the driver can size.
std::optional<std::pair<double, double>> ModePaperMm(const std::wstring& device, const DEVMODEW& m)
{
    std::optional<std::pair<double, double>> paper;
    // A paper of the driver's list by its number, else a size of its own.
    if ((m.dmFields & DM_PAPERSIZE) && m.dmPaperSize != 0 && m.dmPaperSize != DMPAPER_USER)
        for (const DriverPaper& p : DriverPapers(device, m))
            if (p.Number == m.dmPaperSize)
                paper.emplace(p.WidthMm, p.HeightMm);
    if (!paper && (m.dmFields & DM_PAPERWIDTH) && (m.dmFields & DM_PAPERLENGTH) && m.dmPaperWidth > 0
        && m.dmPaperLength > 0)
        paper.emplace(m.dmPaperWidth / 10.0, m.dmPaperLength / 10.0);
    if (paper && Turned(m))
        std::swap(paper->first, paper->second);
    return paper;
}

[[noreturn]] void Refuse(HDC dc, const std::string& message)
{
    DeleteDC(dc);
    throw EPrinter(message);
}

// The driver's own DEVMODE for the printer; empty when it gives none.
std::vector<std::byte> DefaultMode(const std::wstring& device)
{
    std::vector<std::byte> mode;
    HANDLE printer = nullptr;
    std::wstring name = device;
    if (!OpenPrinterW(name.data(), &printer, nullptr))
        return mode;
    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    if (size > 0) {
        mode.resize(static_cast<std::size_t>(size));
        if (DocumentPropertiesW(nullptr, printer, name.data(), reinterpret_cast<DEVMODEW*>(mode.data()), nullptr,
                                DM_OUT_BUFFER)
            != IDOK)
            mode.clear();
    }
    ClosePrinter(printer);
    return mode;
}

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

std::vector<std::byte> ModeForSheet(const std::string& device, const DeviceSettings& sheet)
{
    const std::wstring name = Wide(device);
    std::vector<std::byte> mode = DefaultMode(name);
    auto* m = const_cast<DEVMODEW*>(ModeOf(mode));
    if (!m || sheet.PaperWidthMm <= 0 || sheet.PaperHeightMm <= 0)
        return {};
    const auto same = [&sheet](double width, double height) {
        return std::abs(width - sheet.PaperWidthMm) <= PageToleranceMm
               && std::abs(height - sheet.PaperHeightMm) <= PageToleranceMm;
    };
    const auto paper = ModePaperMm(name, *m);
    if (paper && Turned(*m) == sheet.Landscape
        && (Turned(*m) ? same(paper->second, paper->first) : same(paper->first, paper->second)))
        return {}; // the driver's own: its jobs stay as they were
    m->dmFields |= DM_ORIENTATION;
    m->dmOrientation = sheet.Landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT;
    for (const DriverPaper& p : DriverPapers(name, *m))
        if (same(p.WidthMm, p.HeightMm)) {
            m->dmFields |= DM_PAPERSIZE;
            m->dmFields &= ~static_cast<DWORD>(DM_PAPERWIDTH | DM_PAPERLENGTH);
            m->dmPaperSize = static_cast<short>(p.Number);
            break;
        }
    return mode;
}

std::optional<DeviceSettings> DriverPage(const std::string& device, const std::vector<std::byte>& mode)
{
    const DEVMODEW* m = ModeOf(mode);
    if (!mode.empty() && !m)
        return std::nullopt;
    const std::wstring wide = Wide(device);
    const HDC ic = CreateICW(L"WINSPOOL", wide.c_str(), nullptr, m);
    if (!ic)
        return std::nullopt;
    std::optional<DeviceSettings> page = PageOfDc(ic);
    DeleteDC(ic);
    if (page && m && Turned(*m)) {
        // Back to the paper upright: the orientation turns it a quarter
        // anticlockwise (OrientPage), so its left edge was the top.
        DeviceSettings& s = *page;
        const DeviceSettings lying = s;
        s.PaperWidthMm = lying.PaperHeightMm;
        s.PaperHeightMm = lying.PaperWidthMm;
        s.MarginLeftMm = lying.MarginBottomMm;
        s.MarginBottomMm = lying.MarginRightMm;
        s.MarginRightMm = lying.MarginTopMm;
        s.MarginTopMm = lying.MarginLeftMm;
        s.Landscape = true;
    }
    if (page) {
        NamePaper(*page);
        page->DriverMode = mode;
    }
    return page;
}

TGdiJob::TGdiJob(const std::string& device, const std::string& title, int unitDpi, const std::vector<std::byte>& mode)
    : FDevice(device)
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
    const DEVMODEW* chosen = ModeOf(mode);
    if (!mode.empty() && !chosen)
        throw EPrinter(Format("The printer settings chosen for %1 are not the printer's; nothing was sent. Choose "
                              "them again in Select Printer/Cutter",
                              device));
    FDc = CreateDCW(L"WINSPOOL", name.c_str(), nullptr, chosen);
    if (!FDc)
        throw LastOSError();
    // Refused before the document starts, so nothing reaches the queue.
    const std::optional<DeviceSettings> drawn = PageOfDc(FDc);
    if (!drawn)
        Refuse(FDc, Format("The driver of %1 gives no page to draw on; nothing was sent", device));
    const int dpi = std::min(GetDeviceCaps(FDc, LOGPIXELSX), GetDeviceCaps(FDc, LOGPIXELSY));
    if (dpi < LowestDriverDpi)
        Refuse(FDc, Format("The driver of %1 draws at %2 dpi, too coarse to cut: every curve would come out in steps "
                           "of %3 mm. Nothing was sent; set the printer's resolution to %4 dpi or more",
                           device, dpi, std::round(2540.0 / dpi) / 100, LowestDriverDpi));
    const std::vector<std::byte> defaults = chosen ? std::vector<std::byte>() : DefaultMode(name);
    const DEVMODEW* asked = chosen ? chosen : ModeOf(defaults);
    if (const auto paper = asked ? ModePaperMm(name, *asked) : std::nullopt;
        paper
        && (std::abs(drawn->PaperWidthMm - paper->first) > PageToleranceMm
            || std::abs(drawn->PaperHeightMm - paper->second) > PageToleranceMm))
        Refuse(FDc, Format("The driver of %1 gives a page of %2 x %3 mm for a paper of %4 x %5 mm, so the cut would "
                           "not land where it is placed. Nothing was sent; choose another paper in Select "
                           "Printer/Cutter",
                           device, drawn->PaperWidthMm, drawn->PaperHeightMm, paper->first, paper->second));
    FPage = *drawn;
    NamePaper(FPage);
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
