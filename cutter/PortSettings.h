#pragma once

// How a cutter on a serial line is spoken to. Plain values and text only:
// the port code itself lives in platform/serial/.

#include <optional>
#include <string>
#include <string_view>

// Query: the cutter is asked for the free space in its buffer before each
// block, and sent no more than that, for cutters that hold a job back by
// neither XON/XOFF nor CTS.
enum class FlowControl { None, XonXoff, RtsCts, Query };

struct PortSettings {
    int Baud = 9600;
    int DataBits = 8;
    char Parity = 'N'; // 'N', 'E' or 'O'
    int StopBits = 1;
    // XON/XOFF costs nothing with a cutter that never sends XOFF, and saves
    // the job with one that does; most cutters speak it out of the box.
    FlowControl Flow = FlowControl::XonXoff;
    friend bool operator==(const PortSettings&, const PortSettings&) = default;
};

// "9600,8,N,1,xonxoff": speed, data bits, parity, stop bits, flow control
// (none, xonxoff, rtscts or query). Parsing is case-blind; nullopt for
// anything a serial line cannot be set to, with the field that is wrong in
// *wrong.
std::string PortSettingsText(const PortSettings& settings);
std::optional<PortSettings> ParsePortSettings(std::string_view text, std::string* wrong = nullptr);
