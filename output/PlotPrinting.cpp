#include "output/PlotPrinting.h"

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "output/PagePlacement.h"
#include "platform/PrinterObject.h"
#include "plot/HpglReader.h"

namespace {

// Draws the plot in the job just begun, and ends the job.
PrintResult DrawPlotJob(TPrinter& printer, const TPLT& IPLT, int PositionIndex)
{
    // Everything after BeginJob ends the job, even on failure: a job left
    // open would refuse every later Cut with "Printing in progress".
    PrintResult result;
    SheetShare& share = result.Share;
    try {
        DrawingSurface& canvas = printer.Canvas();
        canvas.SetMapMode(MM_HIMETRIC);

        const int pageWidth = printer.PageWidth();
        const int pageHeight = printer.PageHeight();
        TPoint page[2] = {{0, 0}, {pageWidth, pageHeight}};
        canvas.DPtoLP(page, 2);
        const std::int32_t W = page[1].X;
        const std::int32_t H = page[1].Y; // negative: y grows upward

        canvas.SetViewportOrgEx(0, pageHeight);
        if (const auto origin = PlacementOrigin(IPLT.Bound(), W, H, PositionIndex, IPLT.PlotterUnits()))
            canvas.SetWindowOrgEx(origin->X, origin->Y);

        canvas.MoveTo(0, 0);
        canvas.SetDrawingBound(IPLT.Bound());
        TPolygon polygon;
        for (std::int32_t i = 0; i < IPLT.NPolygons(); ++i) {
            IPLT.ReadPolygon(i, polygon);
            canvas.Polyline(polygon.Points.data(), static_cast<int>(polygon.Points.size()));
        }
        share = canvas.Share();
    } catch (...) {
        try {
            printer.EndDoc();
        } catch (...) {
            // The drawing failure is the one worth reporting.
        }
        throw;
    }
    // A job that cuts nothing would pass for a good cut of a plot the cutter
    // never saw.
    if (share.NothingKept()) {
        printer.AbortDoc();
        throw EPrinter("Nothing of the plot falls on the sheet at this position, so nothing was sent; "
                       "choose another position or a larger sheet");
    }
    result.Job = printer.EndDoc();
    return result;
}

} // namespace

PrintResult PrintPlot(const TPLT& IPLT, const PrintRequest& request)
{
    return PrintPlotOn(Printer(), IPLT, request);
}

PrintResult PrintPlotOn(TPrinter& printer, const TPLT& IPLT, const PrintRequest& request)
{
    printer.BeginJob(std::string(), request.Target);
    return DrawPlotJob(printer, IPLT, request.Position);
}

PrintRequest ActiveDeviceRequest(int position)
{
    PrintRequest request;
    Printer().GetPrinter(request.Target.Identity, request.Target.Settings);
    request.Position = position;
    return request;
}

std::string LeftOutNotice(const SheetShare& share)
{
    const std::string noStroke =
        share.AlignStrokeLeftOut ? std::string("The stroke that aligns the blade was left out: the sheet has no room "
                                               "for it clear of the plot")
                                 : std::string();
    if (!share.SomeLeftOut() || share.NothingKept())
        return noStroke;
    const std::string partly = Format("Part of the plot lies off the sheet and was not cut: %1",
                                      LeftOutAmountText(share.TotalMm, share.TotalMm - share.KeptMm));
    return noStroke.empty() ? partly : partly + ". " + noStroke;
}

HpglSheet SheetOf(const DeviceSettings& settings)
{
    const OrientedPage page = OrientPage(settings);
    return {page.WidthMm - page.MarginLeftMm - page.MarginRightMm,
            page.HeightMm - page.MarginBottomMm - page.MarginTopMm};
}
