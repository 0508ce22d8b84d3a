#pragma once

#include "common/Types.h"

#include <cstdint>
#include <vector>

// One polyline of a plot with its own bounding rectangle (y-up).
struct TPolygon {
    std::vector<TPoint> Points;
    TRect Bound;
};

// The rectangle that any first point widens on all four sides. The negative
// extreme is -2147483647, not INT32_MIN.
inline constexpr TRect EmptyBound{2147483647, -2147483647, -2147483647, 2147483647};

// A plot in memory: polylines in the order they were started, plus the bound
// over every point. Filled by the plot text reader, read back by printing.
class TPLT {
public:
    TPLT() { Reset(); }
    ~TPLT() { Reset(); }
    TPLT(const TPLT&) = default;
    TPLT& operator=(const TPLT&) = default;

    void Reset();
    void AddPolygon();
    // Ignored until a polyline has been started.
    void AddPoint(TPoint Puntos);
    // Copies polyline NPolygon into Result; leaves Result untouched when the
    // index is past the end (or negative).
    void ReadPolygon(std::int32_t NPolygon, TPolygon& Result) const;

    const TRect& Bound() const noexcept { return FBound; }
    std::int32_t NPolygons() const noexcept { return FContPolygon; }

    // Read-only access for callers that only walk the plot (no copy).
    const std::vector<TPolygon>& Polygons() const noexcept { return PLT; }

private:
    std::vector<TPolygon> PLT;
    TRect FBound = EmptyBound;
    std::int32_t FContPolygon = 0;
    std::int32_t FContPoint = 0;
};
