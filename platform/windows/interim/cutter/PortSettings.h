#pragma once

// How a cutter on a serial line is spoken to.

#include <string>

enum class FlowControl { None, XonXoff, RtsCts };

struct PortSettings {
    int Baud = 9600;
    int DataBits = 8;
    char Parity = 'N'; // 'N', 'E' or 'O'
    int StopBits = 1;
    FlowControl Flow = FlowControl::XonXoff;
    friend bool operator==(const PortSettings&, const PortSettings&) = default;
};

// "9600,8,N,1,xonxoff".
inline std::string PortSettingsText(const PortSettings& s)
{
    const char* flow = s.Flow == FlowControl::XonXoff ? "xonxoff" : s.Flow == FlowControl::RtsCts ? "rtscts" : "none";
    return std::to_string(s.Baud) + "," + std::to_string(s.DataBits) + "," + s.Parity + "," + std::to_string(s.StopBits)
           + "," + flow;
}
