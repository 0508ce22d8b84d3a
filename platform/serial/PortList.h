#pragma once

// The machine's ports a cutter may hang on, offered beside the spooler's
// destinations: serial lines (built in, USB adapters, USB modems-class
// devices) and USB printer-class nodes. Only the device list asks, so Qt
// Serial Port sits in a library of its own that a cut never loads.

#include <QString>

#include <vector>

struct PortInfo {
    QString Path;        // "/dev/ttyUSB0"
    QString Description; // what the system says it is, possibly empty
};

// Sorted by path.
std::vector<PortInfo> ListPorts();
