#include "cutter/PortSettings.h"

#include "common/Text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The speeds termios can name on every system the program runs on.
constexpr std::array<int, 12> Bauds = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

constexpr std::pair<FlowControl, const char*> FlowWords[] = {{FlowControl::None, "none"},
                                                             {FlowControl::XonXoff, "xonxoff"},
                                                             {FlowControl::RtsCts, "rtscts"},
                                                             {FlowControl::Query, "query"}};

} // namespace

std::string PortSettingsText(const PortSettings& s)
{
    std::string flow;
    for (const auto& [value, word] : FlowWords)
        if (value == s.Flow)
            flow = word;
    return Format("%1,%2,%3,%4,%5", s.Baud, s.DataBits, s.Parity, s.StopBits, flow);
}

std::optional<PortSettings> ParsePortSettings(std::string_view text, std::string* wrong)
{
    const auto refuse = [wrong](const std::string& why) -> std::optional<PortSettings> {
        if (wrong)
            *wrong = why;
        return std::nullopt;
    };
    const std::vector<std::string> parts = Split(Trimmed(text), ',');
    if (parts.size() != 5)
        return refuse(Format("it needs five fields, not %1", parts.size()));
    PortSettings s;
    const std::optional<int> baud = IntFromText(Trimmed(parts[0]));
    s.Baud = baud.value_or(0);
    if (!baud || std::find(Bauds.begin(), Bauds.end(), s.Baud) == Bauds.end()) {
        std::vector<std::string> speeds;
        for (int each : Bauds)
            speeds.push_back(std::to_string(each));
        return refuse("the speed is not one of " + Join(speeds, ", "));
    }
    const std::optional<int> dataBits = IntFromText(Trimmed(parts[1]));
    s.DataBits = dataBits.value_or(0);
    if (!dataBits || s.DataBits < 5 || s.DataBits > 8)
        return refuse("the data bits are not 5 to 8");
    const std::string parity = AsciiUpper(Trimmed(parts[2]));
    if (parity != "N" && parity != "E" && parity != "O")
        return refuse("the parity is not N, E or O");
    s.Parity = parity.at(0);
    const std::optional<int> stopBits = IntFromText(Trimmed(parts[3]));
    s.StopBits = stopBits.value_or(0);
    if (!stopBits || (s.StopBits != 1 && s.StopBits != 2))
        return refuse("the stop bits are not 1 or 2");
    const std::string flow = AsciiLower(Trimmed(parts[4]));
    for (const auto& [value, word] : FlowWords) {
        if (flow == word) {
            s.Flow = value;
            return s;
        }
    }
    return refuse("the flow control is not none, xonxoff, rtscts or query");
}
