#pragma once

// The sheet and its printable area as the job sees them, after orientation.

#include "platform/PrinterObject.h"

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
