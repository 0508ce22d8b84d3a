#pragma once

// Calibrate: walks the user through one correction of the active device:
// choose a pattern, cut it, type what was measured on it, see the correction
// it gives (old -> new) and keep it, then cut again to check. The cuts go
// through the window's job worker. What it offers and decides is
// TCalibrateModel's; this draws it.

#include "output/Calibration.h"
#include "platform/PrinterObject.h"
#include "platform/windows/Win32.h"

#include <functional>

namespace winui {

// The controls tests look for.
enum CalibrateControl : WORD { IdCalibratePattern = 300, IdCalibrateOrder, IdCalibratePicture, IdCalibrateCut = 310 };

// Modal to owner. cut starts a job of the pattern; it throws when one cannot
// start.
void ShowCalibrate(HWND owner, const DeviceIdentity& identity, const DeviceSettings& settings,
                   std::function<void(const CalibrationCut&)> cut);

} // namespace winui
