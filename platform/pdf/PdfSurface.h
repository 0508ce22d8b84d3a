#pragma once

// A job's drawing surface rendered as one PDF page by Qt: single hairline
// strokes in solid black, no fill, no text, nothing scaled.

#include "cutter/MappedSurface.h"

#include <memory>
#include <string>

class QBuffer;
class QPainter;
class QPdfWriter;

// A driver's job: one page, handed over whole as a document.
class PageSurface : public MappedSurface {
public:
    // Ends the page and returns the document; the surface draws no more.
    virtual std::string Finish() = 0;

protected:
    using MappedSurface::MappedSurface;
};

class PdfSurface final : public PageSurface {
public:
    // dpi is the surface's device resolution: the unit of PageWidth/Height,
    // DPtoLP and the viewport origin.
    PdfSurface(const DeviceSettings& settings, int dpi, const std::string& title);
    ~PdfSurface() override;

    void Polyline(const TPoint* points, int count) override;
    SheetShare Share() const override { return FClip.Share(); }

    std::string Finish() override;

private:
    PointMm ToScaledMm(TPoint logical) const;

    double FScaleX;
    double FScaleY;
    SheetClip FClip;
    std::unique_ptr<QBuffer> FBuffer;
    std::unique_ptr<QPdfWriter> FWriter;
    std::unique_ptr<QPainter> FPainter;
    double FFlipHeightPt = 0; // the page height Qt flips its y axis about
};

// The PDF surface needs Qt Gui, so it lives in a library of its own that only
// a driver's job loads (ProgramLibrary.h), and is made through this function.
extern "C" PageSurface* NewPdfSurface(const DeviceSettings& settings, int dpi, const std::string& title);
