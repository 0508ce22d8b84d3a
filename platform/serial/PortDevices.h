#pragma once

// Ports a cutter may hang on, as devices: their settings and their record
// (the list of the machine's ports is in PortList.h).

#include "platform/PrinterObject.h"
#include "platform/Spooler.h"

// What a port starts with: HPGL on A4 with no margins, 9600 8N1 XON/XOFF.
// A port takes no driver: a port set to SendAs::Driver is sent HPGL.
DeviceSettings DefaultPortSettings();
SendAs PortLanguage(const DeviceSettings& settings);

// A port in the spooler queries: opened without any server; it has a job
// while one is being sent.
struct PortHandle final : SpoolerHandle {
    std::string Path;
};
PrinterInfo2 PortRecord(const std::string& path);
