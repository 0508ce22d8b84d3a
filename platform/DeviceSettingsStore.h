#pragma once

// The settings the user chose for each device in Print Setup, kept across
// runs in the user's configuration folder (Vellico/vellico-output-test.conf).

#include "platform/PrinterObject.h"

#include <optional>

// What was last confirmed for this device; nullopt when nothing usable is
// kept (never chosen, or an entry that is missing fields or out of range).
std::optional<DeviceSettings> RememberedSettings(const QString& device);

// Keeps the settings for the next run. Best effort: a configuration folder
// that cannot be written only means the choice is not remembered.
void RememberSettings(const QString& device, const DeviceSettings& settings);
