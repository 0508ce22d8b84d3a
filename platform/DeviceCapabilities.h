#pragma once

// What a device offers, for choosing its settings (paper, orientation).

#include "platform/PrinterObject.h"

#include <vector>

// One entry per paper size the device supports, portrait, with the device's
// imageable area as margins and its resolution. Empty when the device is
// unknown or cannot be asked.
std::vector<DeviceSettings> SupportedPapers(const QString& device);

// The device's own default settings; falls back to A4 with no margins.
DeviceSettings DefaultSettings(const QString& device);
