#pragma once

// A job drawn whole before it goes anywhere: a PDF page for a driver, or the
// cutter's own language, in memory.

#include "cutter/CutterSurface.h"
#include "platform/pdf/PdfSurface.h"

#include <memory>
#include <string>

class DrawnJob {
public:
    // Throws EPrinter when the settings name no way to draw.
    DrawnJob(const DeviceSettings& settings, const std::string& title);
    DrawingSurface& Canvas();
    // Ends the drawing; the finished document.
    std::string Finish();

private:
    std::unique_ptr<PageSurface> FPdf;
    StringSink FSink;
    std::unique_ptr<CutterSurface> FCutter;
};
