#pragma once

// A job drawn whole before it goes anywhere: a PDF page for a driver, or the
// cutter's own language, in memory.

#include "cutter/CutterSurface.h"
#include "platform/pdf/PdfSurface.h"

#include <QBuffer>
#include <QByteArray>

#include <memory>

class DrawnJob {
public:
    // Throws EPrinter when the settings name no way to draw.
    DrawnJob(const DeviceSettings& settings, const QString& title);
    DrawingSurface& Canvas();
    // Ends the drawing; the finished document.
    QByteArray Finish();

private:
    std::unique_ptr<PageSurface> FPdf;
    QByteArray FBytes;
    QBuffer FSink{&FBytes};
    std::unique_ptr<CutterSurface> FCutter;
};
