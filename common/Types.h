#pragma once

#include <cstdint>

// Plot and device coordinates are signed 32-bit throughout.
struct TPoint {
    std::int32_t X = 0;
    std::int32_t Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// A window origin: placing a plot near the 32-bit limits can put it
// further out than 32 bits reach.
struct TOrigin {
    std::int64_t X = 0;
    std::int64_t Y = 0;
    friend bool operator==(const TOrigin&, const TOrigin&) = default;
};

// Plot bounds are y-up: Top holds the largest Y, Bottom the smallest.
struct TRect {
    std::int32_t Left = 0;
    std::int32_t Top = 0;
    std::int32_t Right = 0;
    std::int32_t Bottom = 0;
    friend bool operator==(const TRect&, const TRect&) = default;
};
