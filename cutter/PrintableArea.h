#pragma once

// The sheet and its printable area as the job sees them, after orientation.

#include "cutter/DeviceMapping.h"
#include "cutter/DeviceSettings.h"

#include <vector>

struct OrientedPage {
    double WidthMm = 0;
    double HeightMm = 0;
    double MarginLeftMm = 0;
    double MarginBottomMm = 0;
    double MarginRightMm = 0;
    double MarginTopMm = 0;
};

// Landscape is the portrait sheet turned a quarter turn anticlockwise: the
// portrait top edge becomes the left one.
OrientedPage OrientPage(const DeviceSettings& settings);

// The printable area in device pixels at dpi, rounded to the nearest pixel;
// never negative.
int PrintableWidthPx(const OrientedPage& page, int dpi);
int PrintableHeightPx(const OrientedPage& page, int dpi);

// A position on the sheet in mm from its lower-left corner, y up.
struct SheetPointMm {
    double X = 0;
    double Y = 0;
};

// A device position (pixels at dpi, counted from the printable area's
// top-left corner) as a sheet position. Every surface places points through
// this, so the PDF and the cutter languages put a plot in the same place.
SheetPointMm DeviceToSheetMm(const OrientedPage& page, int dpi, DevicePointF device);

// Sheets for cutter-language jobs: the whole sheet, no unprintable margins.
DeviceSettings CutterSheet(const std::string& name, double widthMm, double heightMm);
const DeviceSettings& A4CutterSheet();
const DeviceSettings& LetterCutterSheet();

// Same width and height, allowing for sizes kept in hundredths of a mm.
bool SameSheetSize(const DeviceSettings& a, const DeviceSettings& b);

// When a device changes from its driver to a cutter language: the sheet the
// cutter takes, A4 unless the paper was Letter.
const DeviceSettings& CutterSheetFor(const DeviceSettings& paper);
// When it changes back, or a sheet is asked for a driver's job: the driver's
// own paper of the sheet's size, nullptr when it has none.
const DeviceSettings* DriverPaperOfSize(const std::vector<DeviceSettings>& papers, const DeviceSettings& sheet);

// Takes the sheet and its margins; language, orientation, axes and the
// resolution stay as chosen.
void TakeSheet(DeviceSettings& settings, const DeviceSettings& sheet);
