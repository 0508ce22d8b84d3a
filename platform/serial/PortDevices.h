#pragma once

// The machine's ports a cutter may hang on, offered beside the spooler's
// destinations: serial lines (built in, USB adapters, USB modems-class
// devices) and USB printer-class nodes.

#include "platform/PrinterObject.h"
#include "platform/Spooler.h"

#include <vector>

struct PortInfo {
    QString Path;        // "/dev/ttyUSB0"
    QString Description; // what the system says it is, possibly empty
};

// Sorted by path.
std::vector<PortInfo> ListPorts();

// What a port starts with: HPGL on A4 with no margins, 9600 8N1 XON/XOFF.
// A port takes no driver: a port set to SendAs::Driver is sent HPGL.
DeviceSettings DefaultPortSettings();
SendAs PortLanguage(const DeviceSettings& settings);

// A port in the spooler queries: opened without any server; it has a job
// while one is being sent.
struct PortHandle final : SpoolerHandle {
    QString Path;
};
PrinterInfo2 PortRecord(const QString& path);
