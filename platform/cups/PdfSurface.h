#pragma once

// A job's drawing surface rendered as one PDF page by Qt: single hairline
// strokes in solid black, no fill, no text, nothing scaled.

#include "cutter/DeviceMapping.h"
#include "cutter/PrintableArea.h"
#include "platform/PrinterObject.h"

#include <QBuffer>
#include <QByteArray>

#include <memory>

class QPainter;
class QPdfWriter;

namespace vcups {

class PdfSurface final : public DrawingSurface {
public:
    // dpi is the surface's device resolution: the unit of PageWidth/Height,
    // DPtoLP and the viewport origin.
    PdfSurface(const DeviceSettings& settings, int dpi, const QString& title);
    ~PdfSurface() override;

    void SetMapMode(int mode) override;
    void DPtoLP(TPoint* points, int count) override;
    void SetViewportOrgEx(int x, int y) override;
    void SetWindowOrgEx(int x, int y) override;
    void MoveTo(int x, int y) override;
    void Polyline(const TPoint* points, int count) override;

    // Ends the page and returns the document; the surface draws no more.
    QByteArray Finish();

private:
    QPointF ToPdf(TPoint logical) const;

    OrientedPage FPage;
    int FDpi;
    double FScaleX;
    double FScaleY;
    DeviceMapping FMapping;
    QBuffer FBuffer;
    std::unique_ptr<QPdfWriter> FWriter;
    std::unique_ptr<QPainter> FPainter;
    double FFlipHeightPt = 0; // the page height Qt flips its y axis about
    TPoint FCurrent;
};

} // namespace vcups
