#pragma once

// The window's pictures, drawn with GDI from the built-in sample and the page
// placement the program prints with, so a preview cannot drift from the
// output: the size picture and the nine position previews.

#include "common/Types.h"
#include "platform/windows/Win32.h"

#include <vector>

namespace winui {

// The sample as the pictures show it: one dot at the centre of each circle.
struct TSampleDots {
    struct Dot {
        double X = 0;
        double Y = 0;
    };
    std::vector<Dot> Centres;
    TRect Bound;
};
TSampleDots SampleDots();

// A preview: an A4 printable area scaled to SheetHeight pixels, and the
// sheet's shadow below it.
inline constexpr int PreviewWidth = 120;
inline constexpr int PreviewHeight = 170;
inline constexpr int SheetHeight = 166;

// Where a dot lands in the preview of a position, in pixels at 96 dpi (y
// down); index outside 0..8 leaves the origin where it is, as printing does.
TSampleDots::Dot PreviewPoint(const TSampleDots::Dot& centre, const TRect& bound, int index);

// Draw on the window's background; scale is the screen's pixels per pixel at
// 96 dpi. An index outside 0..8 draws nothing.
void DrawPreview(HDC dc, const RECT& area, const TSampleDots& dots, int index, double scale);
void DrawSizePicture(HDC dc, const RECT& area, const TSampleDots& dots, double scale);

} // namespace winui
