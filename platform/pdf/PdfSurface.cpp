#include "platform/pdf/PdfSurface.h"

#include "platform/pdf/PdfPageBox.h"

#include <QBuffer>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include <vector>

namespace {
constexpr double PtPerMm = 72.0 / 25.4;
}

PageSurface* NewPdfSurface(const DeviceSettings& settings, int dpi, const std::string& title)
{
    return new PdfSurface(settings, dpi, title);
}

PdfSurface::PdfSurface(const DeviceSettings& settings, int dpi, const std::string& title)
    : PageSurface(settings, dpi), FScaleX(settings.Corrections.ScaleXPercent / 100),
      FScaleY(settings.Corrections.ScaleYPercent / 100), FClip(Page().WidthMm, Page().HeightMm)
{
    FBuffer = std::make_unique<QBuffer>();
    FBuffer->open(QIODevice::WriteOnly);
    FWriter = std::make_unique<QPdfWriter>(FBuffer.get());
    FWriter->setTitle(QString::fromStdString(title));
    FWriter->setCreator(QString());
    // Painter units are PDF points, so coordinates pass through unscaled.
    FWriter->setResolution(72);
    // Full page: no margins of Qt's own. Qt keeps page sizes in whole points
    // (A4 becomes 595 x 842), so nothing below trusts its page rectangle:
    // every position is measured from the sheet's lower-left corner, where the
    // PDF's own origin is, and Finish writes the exact size into the file.
    const QPageSize size(QSizeF(Page().WidthMm, Page().HeightMm), QPageSize::Millimeter, QString(),
                         QPageSize::ExactMatch);
    FWriter->setPageLayout(QPageLayout(size, QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter));
    FFlipHeightPt = FWriter->pageLayout().fullRectPoints().height();
    FPainter = std::make_unique<QPainter>(FWriter.get());
    // GDI's default pen, made a hairline: one stroke per edge for a cutter.
    QPen pen(Qt::black, 0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pen.setCosmetic(true);
    FPainter->setPen(pen);
    FPainter->setBrush(Qt::NoBrush);
    FPainter->setRenderHint(QPainter::Antialiasing, false);
}

PdfSurface::~PdfSurface()
{
    if (FPainter && FPainter->isActive())
        FPainter->end();
}

PointMm PdfSurface::ToScaledMm(TPoint logical) const
{
    const SheetPointMm s = ToSheet(logical);
    // The driver keeps blade offset and overcut; only the scale is ours,
    // about the sheet's corner (times exactly 1 when uncorrected).
    return {s.X * FScaleX, s.Y * FScaleY};
}

void PdfSurface::Polyline(const TPoint* points, int count)
{
    if (!FPainter || !FPainter->isActive() || count < 2)
        return;
    // Drawn whole: the page itself keeps to the sheet. What falls on it is
    // counted as the cutter surfaces count it.
    std::vector<QPointF> pts(static_cast<size_t>(count));
    PointMm from;
    for (int i = 0; i < count; ++i) {
        const PointMm to = ToScaledMm(points[i]);
        pts[static_cast<size_t>(i)] = {to.X * PtPerMm, FFlipHeightPt - to.Y * PtPerMm};
        if (i > 0) {
            PointMm a = from, b = to;
            FClip.Clip(a, b);
        }
        from = to;
    }
    FPainter->drawPolyline(pts.data(), count);
}

std::string PdfSurface::Finish()
{
    if (FPainter && FPainter->isActive())
        FPainter->end();
    FWriter.reset();
    FBuffer->close();
    // The page as drawn: a landscape page is already the wide way round.
    return SetMediaBox(FBuffer->data(), Page().WidthMm * PtPerMm, Page().HeightMm * PtPerMm).toStdString();
}
