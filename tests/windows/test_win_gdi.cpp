// A driver's job drawn with GDI, through Wine's PostScript driver to the
// private server's 600 dpi queue, read back from the job the server keeps.

#include "PdfPaths.h"
#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "platform/windows/GdiJob.h"

#include <doctest/doctest.h>

#include <climits>
#include <cmath>

namespace {

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

TEST_CASE("a GDI job to a printer the system does not have is refused")
{
    for (const char* device : {"NoSuchQueue", ""}) {
        CAPTURE(device);
        try {
            TGdiJob job(device, "t");
            FAIL("opened");
        } catch (const EPrinter& e) {
            CHECK(e.Message() == "Printer selected is not valid");
        }
    }
}
