#pragma once

// The position list's texts, in list order: index i is PlacementPosition i.
// The command line accepts these words; the window's form lists the same.

#include <array>
#include <string_view>

inline constexpr std::array<std::string_view, 9> PositionTexts = {
    "Bottom left", "Bottom right", "Top left",     "Top right", "Middle Bottom",
    "Middle Top",  "Middle left",  "Middle right", "Centered",
};
