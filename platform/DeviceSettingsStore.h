#pragma once

// The settings the user chose for each device in Print Setup, kept across
// runs in the user's configuration folder (Vellico/vellico-output-test.conf).

#include "platform/PrinterObject.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

// What was last confirmed for this device, key by key over defaults (the
// device's own settings): a key that is missing keeps the default, and so
// does one whose value cannot be used, which is noted. nullopt when nothing
// is kept for the device.
std::optional<DeviceSettings> RememberedSettings(const std::string& device, const DeviceSettings& defaults);

// Keeps the settings for the next run. Best effort: a configuration folder
// that cannot be written only means the choice is not remembered.
void RememberSettings(const std::string& device, const DeviceSettings& settings);

// Keeps the settings for the next run, or throws EFileError saying why they
// did not reach the file. The file is read and written again under a lock,
// so saves running at the same time keep each other's devices.
void SaveSettings(const std::string& device, const DeviceSettings& settings);

// A settings file larger than this is not read, nor written again: one entry
// takes half a kilobyte, and no user has thousands of devices.
inline constexpr std::int64_t MaxSettingsFileBytes = 1 << 20;

// The file they are kept in (the user's configuration folder, then
// Vellico/vellico-output-test.conf); empty when the user has none.
std::string SettingsFilePath();

// Where notes on kept settings that cannot be used go (standard error on the
// command line, the error report in the window); each is given once per
// hook, and dropped without one. Called on whichever thread reads settings.
void SetSettingsNoteHook(std::function<void(const std::string& note)> hook);
