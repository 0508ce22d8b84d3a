#include "cutter/PortSettings.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <utility>

namespace {

// The speeds termios can name on every system the program runs on.
constexpr std::array<int, 12> Bauds = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400, 460800};

constexpr std::pair<FlowControl, const char*> FlowWords[] = {
    {FlowControl::None, "none"}, {FlowControl::XonXoff, "xonxoff"}, {FlowControl::RtsCts, "rtscts"}};

} // namespace

QString PortSettingsText(const PortSettings& s)
{
    QString flow;
    for (const auto& [value, word] : FlowWords)
        if (value == s.Flow)
            flow = QLatin1String(word);
    return QStringLiteral("%1,%2,%3,%4,%5")
        .arg(s.Baud)
        .arg(s.DataBits)
        .arg(QLatin1Char(s.Parity))
        .arg(s.StopBits)
        .arg(flow);
}

std::optional<PortSettings> ParsePortSettings(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(','));
    if (parts.size() != 5)
        return std::nullopt;
    PortSettings s;
    bool ok = false;
    s.Baud = parts[0].trimmed().toInt(&ok);
    if (!ok || std::find(Bauds.begin(), Bauds.end(), s.Baud) == Bauds.end())
        return std::nullopt;
    s.DataBits = parts[1].trimmed().toInt(&ok);
    if (!ok || s.DataBits < 5 || s.DataBits > 8)
        return std::nullopt;
    const QString parity = parts[2].trimmed().toUpper();
    if (parity != QLatin1String("N") && parity != QLatin1String("E") && parity != QLatin1String("O"))
        return std::nullopt;
    s.Parity = parity.at(0).toLatin1();
    s.StopBits = parts[3].trimmed().toInt(&ok);
    if (!ok || (s.StopBits != 1 && s.StopBits != 2))
        return std::nullopt;
    const QString flow = parts[4].trimmed().toLower();
    bool known = false;
    for (const auto& [value, word] : FlowWords) {
        if (flow == QLatin1String(word)) {
            s.Flow = value;
            known = true;
        }
    }
    if (!known)
        return std::nullopt;
    return s;
}
