// A driver's job drawn with GDI, through Wine's PostScript driver to the
// private server's 600 dpi queue, read back from the job the server keeps.

#include "PdfPaths.h"
#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "platform/windows/GdiJob.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <doctest/doctest.h>

#include <climits>
#include <cmath>

namespace {

// A DEVMODE as the printer setup dialog returns it: the driver's own, with
// the paper (and a size of its own, in 0.1 mm) and the orientation chosen.
std::vector<std::byte> ChosenMode(const char* device, short paper, short orientation, short width = 0, short length = 0)
{
    std::wstring name = Wide(device);
    HANDLE printer = nullptr;
    REQUIRE(OpenPrinterW(name.data(), &printer, nullptr));
    const LONG size = DocumentPropertiesW(nullptr, printer, name.data(), nullptr, nullptr, 0);
    REQUIRE(size > 0);
    std::vector<std::byte> mode(static_cast<size_t>(size));
    auto* m = reinterpret_cast<DEVMODEW*>(mode.data());
    REQUIRE(DocumentPropertiesW(nullptr, printer, name.data(), m, nullptr, DM_OUT_BUFFER) == IDOK);
    ClosePrinter(printer);
    m->dmPaperSize = paper;
    m->dmOrientation = orientation;
    m->dmFields |= DM_PAPERSIZE | DM_ORIENTATION;
    if (width > 0) {
        m->dmPaperWidth = width;
        m->dmPaperLength = length;
        m->dmFields |= DM_PAPERWIDTH | DM_PAPERLENGTH;
    }
    return mode;
}

// The printable area the driver gives for a DEVMODE, in mm from the page's
// lower-left corner, as the page lies: {left, bottom, right, top}.
std::array<double, 4> PrintableMm(const char* device, const std::vector<std::byte>& mode)
{
    const HDC ic =
        CreateICW(L"WINSPOOL", Wide(device).c_str(), nullptr, reinterpret_cast<const DEVMODEW*>(mode.data()));
    REQUIRE(ic != nullptr);
    const double dpiX = GetDeviceCaps(ic, LOGPIXELSX), dpiY = GetDeviceCaps(ic, LOGPIXELSY);
    const double height = GetDeviceCaps(ic, PHYSICALHEIGHT) * 25.4 / dpiY;
    const double left = GetDeviceCaps(ic, PHYSICALOFFSETX) * 25.4 / dpiX;
    const double top = height - GetDeviceCaps(ic, PHYSICALOFFSETY) * 25.4 / dpiY;
    const std::array<double, 4> area{left, top - GetDeviceCaps(ic, VERTRES) * 25.4 / dpiY,
                                     left + GetDeviceCaps(ic, HORZRES) * 25.4 / dpiX, top};
    DeleteDC(ic);
    return area;
}

struct Row {
    const char* What;
    std::int64_t OriginX; // window origin, in 0.01 mm
    std::int64_t OriginY;
    std::vector<TPoint> Points; // logical
    // mm from the sheet's lower-left corner: the queue's A4 printable area
    // starts 5.00 mm from its left and 7.50 mm from its bottom
    // (tests/support/cups-harness).
    std::vector<std::array<double, 2>> Expected;
};

} // namespace

TEST_CASE("a GDI job lands in exact metric units where it is placed")
{
    const std::int64_t beyond = std::int64_t{INT_MIN} - 1000; // beyond 32 bits
    const std::vector<Row> rows = {
        {"a square",
         0,
         0,
         {{1000, 1000}, {6000, 1000}, {6000, 4000}, {1000, 4000}, {1000, 1000}},
         {{15, 17.5}, {65, 17.5}, {65, 47.5}, {15, 47.5}, {15, 17.5}}},
        // 0.5 % off over 190 mm would be 0.95 mm: the metric unit is exact.
        {"across the page", 0, 0, {{0, 0}, {19000, 28000}}, {{5, 7.5}, {195, 287.5}}},
        {"a window origin", -2000, 3000, {{0, 3000}, {100, 3100}}, {{25, 7.5}, {26, 8.5}}},
        // GDI's float mapping alone would put this row 1 mm off.
        {"a window origin beyond 32 bits",
         beyond,
         beyond,
         {{INT_MIN + 1000, INT_MIN + 1000}, {INT_MIN + 1500, INT_MIN + 1000}},
         {{25, 27.5}, {30, 27.5}}},
        // Half of it off the sheet's left edge.
        {"partly off the sheet", 0, 0, {{-1500, 10000}, {500, 10000}}, {{-10, 107.5}, {10, 107.5}}},
    };
    const std::string jobs = HarnessFolder() + "\\jobs";
    const auto before = TTempFolder::NamesOf(jobs);

    // A job dropped unfinished (its drawing failed) prints nothing.
    {
        TGdiJob dropped("PdfCutter600", "dropped");
        const TPoint line[] = {{0, 0}, {1000, 1000}};
        dropped.Canvas().Polyline(line, 2);
    }
    TGdiJob job("PdfCutter600", "GDI placement");
    CHECK(job.PageWidth() == 4748); // 600 dpi: the driver read the resolution right
    DrawingSurface& canvas = job.Canvas();
    canvas.SetMapMode(MM_HIMETRIC);
    TPoint page[2] = {{0, 0}, {job.PageWidth(), job.PageHeight()}};
    canvas.DPtoLP(page, 2);
    CHECK(page[1].X == 20100); // 4748 px at 600 dpi: 200.998 mm
    CHECK(page[1].Y == -28351);
    canvas.SetViewportOrgEx(0, job.PageHeight());
    for (const Row& row : rows) {
        canvas.SetWindowOrgEx(row.OriginX, row.OriginY);
        canvas.MoveTo(0, 0);
        canvas.Polyline(row.Points.data(), static_cast<int>(row.Points.size()));
    }
    // Only the part on the sheet counts as cut: 10 of the last line's 20 mm.
    const SheetShare share = canvas.Share();
    CHECK(share.TotalMm - share.KeptMm == doctest::Approx(10).epsilon(0.001));
    const HandedJob handed = job.Finish();
    CHECK(handed.Device == "PdfCutter600");
    CHECK(handed.Id > 0);

    // The jobs are taken in order: once the whole one is there, the
    // dropped one would have been too.
    std::vector<std::string> fresh;
    std::vector<PdfStroke> strokes;
    for (int waited = 0; strokes.size() != rows.size() && waited < 30000; waited += 100) {
        fresh = NewNames(jobs, before, 0);
        for (const std::string& name : fresh)
            if (const auto pdf = ReadWholeFile(jobs + "\\" + name); pdf && ReadPdfStrokesMm(*pdf).size() == rows.size())
                strokes = ReadPdfStrokesMm(*pdf);
        Sleep(100);
    }
    REQUIRE(strokes.size() == rows.size());
    if (UnderWine() && fresh.size() == 2)
        WARN_MESSAGE(false, "Wine 8 prints a document that AbortDoc dropped");
    else
        CHECK(fresh.size() == 1);
    double worst = 0;
    for (size_t r = 0; r < rows.size(); ++r) {
        const std::string what = rows[r].What;
        CAPTURE(what);
        REQUIRE(strokes[r].size() == rows[r].Expected.size());
        for (size_t i = 0; i < strokes[r].size(); ++i) {
            const double dx = strokes[r][i].X - rows[r].Expected[i][0];
            const double dy = strokes[r][i].Y - rows[r].Expected[i][1];
            CAPTURE(strokes[r][i].X);
            CAPTURE(strokes[r][i].Y);
            CHECK(std::hypot(dx, dy) < 0.05);
            worst = std::max(worst, std::hypot(dx, dy));
        }
    }
    MESSAGE("worst placement error " << worst << " mm");
}

TEST_CASE("a GDI job to a printer the system does not have, or one it would draw wrong, is refused")
{
    struct Row {
        const char* Device;
        std::vector<std::byte> Mode;
        const char* Says;
    };
    const std::vector<Row> rows = {
        {"NoSuchQueue", {}, "Printer selected is not valid"},
        {"", {}, "Printer selected is not valid"},
        // The queue's PPD says 1016 dpi; Wine's driver reads it as 10.
        {"TestCutter", {}, "The driver of TestCutter draws at 10 dpi, too coarse to cut"},
        {"PdfCutter600", {std::byte{1}, std::byte{2}, std::byte{3}}, "are not the printer's"},
        // A paper the driver does not have: it draws on its A4 instead.
        {"PdfCutter600", ChosenMode("PdfCutter600", DMPAPER_A3, DMORIENT_PORTRAIT, 2970, 4200),
         "gives a page of 209.97 x 296.97 mm for a paper of 297 x 420 mm"},
        // A size of the user's own: Wine 8 draws it on A4 too.
        {"PdfCutter600", ChosenMode("PdfCutter600", DMPAPER_USER, DMORIENT_PORTRAIT, 6000, 10000),
         "for a paper of 600 x 1000 mm"},
    };
    const std::string jobs = HarnessFolder() + "\\jobs";
    const auto before = TTempFolder::NamesOf(jobs);
    for (const Row& row : rows) {
        const std::string device = row.Device, says = row.Says;
        CAPTURE(device);
        CAPTURE(says);
        try {
            TGdiJob job(row.Device, "refused", 0, row.Mode);
            FAIL("opened");
        } catch (const EPrinter& e) {
            CAPTURE(e.Message());
            CHECK(e.Message().find(row.Says) != std::string::npos);
        }
    }
    // Nothing of them reached a queue: once a good job is there, only it is.
    TGdiJob good("PdfCutter600", "after the refused ones");
    const TPoint line[] = {{0, 0}, {1000, 1000}};
    good.Canvas().Polyline(line, 2);
    good.Finish();
    std::vector<std::string> fresh;
    for (int waited = 0; fresh.empty() && waited < 30000; waited += 100) {
        fresh = NewNames(jobs, before, 0);
        Sleep(100);
    }
    CHECK(fresh.size() == 1);
}

TEST_CASE("a driver job takes the paper and orientation chosen, and the sample lands in each corner of that page")
{
    TPLT sample;
    ReadPlotText(sample, BuiltInSampleLines());
    const TRect bound = sample.Bound();
    const double sampleW = (bound.Right - bound.Left) / 100.0, sampleH = (bound.Top - bound.Bottom) / 100.0;
    struct Row {
        const char* What;
        short Paper, Orientation;
        double WidthMm, HeightMm; // the paper upright, as the PDF page is
        // The settings' sheet left as the driver's default (kept from an
        // earlier choice, or set on the command line): the page drawn on
        // still places the plot.
        bool DefaultSheet = false;
        // No DEVMODE, only the sheet: a choice kept from an earlier run.
        bool SheetOnly = false;
    };
    const std::string jobs = HarnessFolder() + "\\jobs";
    double worst = 0;
    for (const Row& row : {Row{"Letter landscape", DMPAPER_LETTER, DMORIENT_LANDSCAPE, 215.9, 279.4},
                           Row{"A4 portrait", DMPAPER_A4, DMORIENT_PORTRAIT, 210, 297},
                           Row{"Letter landscape, the settings' sheet A4 portrait", DMPAPER_LETTER, DMORIENT_LANDSCAPE,
                               215.9, 279.4, true},
                           Row{"Letter landscape kept from an earlier run", DMPAPER_LETTER, DMORIENT_LANDSCAPE, 215.9,
                               279.4, false, true}}) {
        const std::string what = row.What;
        CAPTURE(what);
        const bool turned = row.Orientation == DMORIENT_LANDSCAPE;
        const std::vector<std::byte> mode = ChosenMode("PdfCutter600", row.Paper, row.Orientation);
        const std::array<double, 4> area = PrintableMm("PdfCutter600", mode);
        // What the window is told of the page is the driver's page.
        const std::optional<DeviceSettings> chosen = DriverPage("PdfCutter600", mode);
        REQUIRE(chosen);
        CHECK(chosen->Landscape == turned);
        const OrientedPage sheet = OrientPage(*chosen);
        CHECK(std::abs(sheet.WidthMm - (turned ? row.HeightMm : row.WidthMm)) < 0.05);
        CHECK(std::abs(sheet.HeightMm - (turned ? row.WidthMm : row.HeightMm)) < 0.05);
        CHECK(std::abs(sheet.MarginLeftMm - area[0]) < 0.01);
        CHECK(std::abs(sheet.MarginBottomMm - area[1]) < 0.01);
        CHECK(std::abs(sheet.WidthMm - sheet.MarginRightMm - area[2]) < 0.01);
        CHECK(std::abs(sheet.HeightMm - sheet.MarginTopMm - area[3]) < 0.01);

        PrintRequest request;
        request.Target.Identity.Device = "PdfCutter600";
        request.Target.Settings = *chosen;
        if (row.DefaultSheet) {
            request.Target.Settings = DriverPage("PdfCutter600", {}).value();
            request.Target.Settings.DriverMode = mode;
        }
        if (row.SheetOnly)
            request.Target.Settings.DriverMode.clear();
        for (const int position : {BottomLeft, BottomRight, TopLeft, TopRight}) {
            CAPTURE(position);
            const auto before = TTempFolder::NamesOf(jobs);
            request.Position = position;
            PrintPlot(sample, request);
            std::optional<std::string> pdf;
            for (int waited = 0; !pdf && waited < 30000; waited += 100) {
                for (const std::string& name : NewNames(jobs, before, 0))
                    if (auto whole = ReadWholeFile(jobs + "\\" + name);
                        whole && ReadPdfStrokesMm(*whole).size() == static_cast<size_t>(sample.NPolygons()))
                        pdf = whole;
                Sleep(100);
            }
            REQUIRE(pdf);
            const std::optional<PdfPointMm> page = ReadPdfPageSizeMm(*pdf);
            REQUIRE(page);
            CHECK(std::abs(page->X - row.WidthMm) < 0.5);
            CHECK(std::abs(page->Y - row.HeightMm) < 0.5);
            // The paper goes through upright: the driver turns a landscape
            // page onto it a quarter turn anticlockwise (the PPD's Plus90),
            // its bottom edge along the paper's right.
            PdfPointMm low{1e9, 1e9}, high{-1e9, -1e9};
            for (const PdfStroke& stroke : ReadPdfStrokesMm(*pdf))
                for (PdfPointMm p : stroke) {
                    if (turned)
                        p = {p.Y, row.WidthMm - p.X};
                    low = {std::min(low.X, p.X), std::min(low.Y, p.Y)};
                    high = {std::max(high.X, p.X), std::max(high.Y, p.Y)};
                }
            const bool right = position == BottomRight || position == TopRight;
            const bool top = position == TopLeft || position == TopRight;
            const double x = right ? area[2] - sampleW : area[0];
            const double y = top ? area[3] - sampleH : area[1];
            for (const double error : {low.X - x, low.Y - y, high.X - (x + sampleW), high.Y - (y + sampleH)}) {
                CHECK(std::abs(error) < 0.05);
                worst = std::max(worst, std::abs(error));
            }
        }
    }
    MESSAGE("worst corner error " << worst << " mm");
}
