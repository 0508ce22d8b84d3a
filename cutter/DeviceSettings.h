#pragma once

// The settings block that travels with a device: its sheet, how a job is
// sent to it, and how a cutter's axes lie. Plain values, shared by every
// layer from the cutter output up.

#include "cutter/CutterCorrections.h"
#include "cutter/PortSettings.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How a job reaches the device: drawn as a page for the printing system's
// driver, or written in the cutter's own command language and sent raw.
enum class SendAs { Driver, HPGL, DMPL, GPGL, CAMMGL };

// A language's word in settings files and on the command line ("driver",
// "hpgl", "dmpl", "gpgl", "camm"), and back (any case; nullopt for none).
std::string_view SendAsWord(SendAs language);
std::optional<SendAs> SendAsFromWord(std::string_view word);

struct DeviceSettings {
    std::string PaperName;    // media keyword the device knows: "A4", "Letter", ...
    double PaperWidthMm = 0;  // portrait width of the sheet
    double PaperHeightMm = 0; // portrait height of the sheet
    // Unprintable margins (the device's imageable area), portrait, in mm.
    double MarginLeftMm = 0;
    double MarginBottomMm = 0;
    double MarginRightMm = 0;
    double MarginTopMm = 0;
    bool Landscape = false;
    int ResolutionDpi = 0; // device pixels per inch
    // Cutter language jobs only: the sheet above is the cutter's (no margins
    // unless set), and the cutter's axes may differ from the sheet's.
    SendAs Language = SendAs::Driver;
    bool Rotate90 = false; // plotter x runs along the sheet's y axis
    bool MirrorX = false;
    bool MirrorY = false;
    // Devices that are ports only (see IsPortDevice): the serial line.
    PortSettings Line{};
    // What calibration found for this device: all of it for cutter-language
    // jobs, the scale alone for jobs through a driver.
    CutterCorrections Corrections{};
    // Jobs through a driver only: the driver's own settings block as the
    // system's printer dialog returned it (a DEVMODE on Windows), handed to
    // the driver unread. Empty: the driver's defaults. Lives for the session
    // only; the sheet above says what it chose.
    std::vector<std::byte> DriverMode;
    friend bool operator==(const DeviceSettings&, const DeviceSettings&) = default;
};
