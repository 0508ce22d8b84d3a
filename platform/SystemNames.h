#pragma once

// The system's own names for ports and devices, for help and messages:
// a user is shown the names their system has.

#include <string_view>

struct SystemNames {
    std::string_view Ports;         // the kinds of port a cutter is on, with examples
    std::string_view ExamplePort;   // one port, for an example command
    std::string_view OutputDevices; // what --output makes of a device
};

const SystemNames& TheSystemNames();
