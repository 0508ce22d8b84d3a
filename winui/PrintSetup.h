#pragma once

// Select Printer/Cutter: the system's printer setup dialog, and from it a
// dialog of our own for what a cutter needs beyond a printer (how jobs are
// sent, the cutter's sheet and axes, the corrections, a COM port's line).

#include "platform/PrinterObject.h"
#include "platform/windows/Win32.h"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace winui {

struct TSetupChoice {
    DeviceIdentity Identity;
    // The DEVMODE the system's dialog returned, as its bytes; empty when it
    // gave none.
    std::vector<std::byte> DriverMode;
    std::string PaperName; // the paper picked in the system's dialog; empty when it named none
    std::optional<bool> Landscape;
    // Set when the cutter settings were confirmed for this device.
    std::optional<DeviceSettings> Cutter;
};

// Modal to owner, opened on the current device (empty: the system's default)
// and centred horizontally, a third of the way down the monitor. Nothing
// when the user cancels.
std::optional<TSetupChoice> ShowPrinterSetup(HWND owner, const DeviceIdentity& current,
                                             const DeviceSettings& currentSettings);

// The settings the choice gives the device: what was kept for it, or its
// defaults, with the dialogs' choices over them; kept for the next run.
// notSaved: why they could not be kept, empty when they were (the settings
// still hold for this session). Asks the spooler: not for the window's thread.
DeviceSettings SettingsForChoice(const TSetupChoice& choice, std::string& notSaved);

// The cutter's part of settings taken over settings of the device.
void TakeCutterSettings(DeviceSettings& settings, const DeviceSettings& cutter);

// Reads a number typed into a field: the whole text, within [low, high].
std::optional<double> FieldNumber(const std::wstring& text, double low, double high);

// The cutter settings dialog's controls.
enum CutterControl : WORD {
    IdSendAs = 200,
    IdSheetWidth,
    IdSheetLength,
    IdRotate90,
    IdMirrorX,
    IdMirrorY,
    IdScaleX,
    IdScaleY,
    IdBladeOffset,
    IdOvercut,
    IdForce,
    IdToolSpeed,
    IdSpeed,
    IdBits,
    IdParity,
    IdStopBits,
    IdFlow,
    IdCheckLine,
    IdCheckLineText,
};

// Print Setup's list of COM ports, below the system's printers.
inline constexpr WORD IdSetupPortList = 0x5002;

// The cutter settings dialog alone; true when confirmed (settings changed).
bool ShowCutterSettings(HWND owner, const std::string& device, DeviceSettings& settings);

} // namespace winui
