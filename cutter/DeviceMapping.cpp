#include "cutter/DeviceMapping.h"

#include "cutter/DrawingSurface.h"

#include <cstdint>
#include <limits>

namespace {

// Hundredths of a millimetre per inch.
constexpr std::int64_t HimetricPerInch = 2540;

std::int32_t Clamp32(std::int64_t v) noexcept
{
    if (v > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (v < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// num / den rounded to nearest, halves away from zero; den > 0.
std::int64_t DivRound(std::int64_t num, std::int64_t den) noexcept
{
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

} // namespace

DeviceMapping::DeviceMapping(int dpiX, int dpiY)
    : FDpiX(dpiX > 0 ? dpiX : 1), FDpiY(dpiY > 0 ? dpiY : 1), FMode(MM_TEXT)
{}

bool DeviceMapping::SetMapMode(int mode)
{
    if (mode != MM_TEXT && mode != MM_HIMETRIC)
        return false;
    FMode = mode;
    return true;
}

TPoint DeviceMapping::DPtoLP(TPoint device) const noexcept
{
    const std::int64_t dx = std::int64_t{device.X} - FViewportOrg.X;
    const std::int64_t dy = std::int64_t{device.Y} - FViewportOrg.Y;
    if (FMode == MM_TEXT)
        return {Clamp32(dx + FWindowOrg.X), Clamp32(dy + FWindowOrg.Y)};
    // Metric: y grows upward, so device y maps with the opposite sign.
    const std::int64_t lx = DivRound(dx * HimetricPerInch, FDpiX);
    const std::int64_t ly = DivRound(-dy * HimetricPerInch, FDpiY);
    return {Clamp32(lx + FWindowOrg.X), Clamp32(ly + FWindowOrg.Y)};
}

DevicePointF DeviceMapping::LPtoDP(TPoint logical) const noexcept
{
    const double lx = static_cast<double>(std::int64_t{logical.X} - FWindowOrg.X);
    const double ly = static_cast<double>(std::int64_t{logical.Y} - FWindowOrg.Y);
    if (FMode == MM_TEXT)
        return {lx + FViewportOrg.X, ly + FViewportOrg.Y};
    return {lx * FDpiX / static_cast<double>(HimetricPerInch) + FViewportOrg.X,
            -ly * FDpiY / static_cast<double>(HimetricPerInch) + FViewportOrg.Y};
}
