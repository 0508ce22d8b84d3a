#pragma once

#include "common/Types.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

// One polyline of a plot with its own bounding rectangle (y-up).
struct TPolygon {
    std::vector<TPoint> Points;
    TRect Bound;
};

// A polyline as the store holds it, without copying its points. Valid until
// the store next changes.
struct TPolygonView {
    std::span<const TPoint> Points;
    TRect Bound;
};

// The rectangle that any first point widens on all four sides. The negative
// extreme is -2147483647, not INT32_MIN.
inline constexpr TRect EmptyBound{2147483647, -2147483647, -2147483647, 2147483647};

class TPLT;

// The polylines of a store in order, for callers that only walk the plot.
class TPolygonRange {
public:
    class iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = TPolygonView;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = TPolygonView;

        iterator() = default;
        iterator(const TPLT* plt, std::size_t index) : FPlt(plt), FIndex(index) {}
        TPolygonView operator*() const;
        iterator& operator++()
        {
            ++FIndex;
            return *this;
        }
        iterator operator++(int)
        {
            iterator old = *this;
            ++FIndex;
            return old;
        }
        friend bool operator==(const iterator& a, const iterator& b) { return a.FIndex == b.FIndex; }

    private:
        const TPLT* FPlt = nullptr;
        std::size_t FIndex = 0;
    };

    explicit TPolygonRange(const TPLT& plt) : FPlt(&plt) {}
    std::size_t size() const noexcept;
    bool empty() const noexcept { return size() == 0; }
    TPolygonView operator[](std::size_t index) const;
    TPolygonView front() const { return (*this)[0]; }
    TPolygonView back() const { return (*this)[size() - 1]; }
    iterator begin() const { return {FPlt, 0}; }
    iterator end() const { return {FPlt, size()}; }

private:
    const TPLT* FPlt;
};

// A plot in memory: polylines in the order they were started, plus the bound
// over every point. Filled by the plot text reader, read back by printing.
//
// All points live in one array and each polyline is an offset into it plus
// its bound, so a plot of many tiny polylines costs 28 bytes per polyline
// rather than a separately allocated array each.
class TPLT {
public:
    TPLT() { Reset(); }
    ~TPLT() = default;
    TPLT(const TPLT&) = default;
    TPLT& operator=(const TPLT&) = default;
    TPLT(TPLT&&) noexcept = default;
    TPLT& operator=(TPLT&&) noexcept = default;

    void Reset();
    void AddPolygon();
    // Ignored until a polyline has been started.
    void AddPoint(TPoint Puntos);
    // Copies polyline NPolygon into Result; leaves Result untouched when the
    // index is past the end (or negative).
    void ReadPolygon(std::int32_t NPolygon, TPolygon& Result) const;

    const TRect& Bound() const noexcept { return FBound; }
    std::int32_t NPolygons() const noexcept { return FContPolygon; }

    // Room for this many polylines and points in all, so that a reader that
    // knows an upper bound fills the store without the arrays regrowing
    // (a regrow holds the old and the new array at once).
    void Reserve(std::size_t Polygons, std::size_t Points);
    // Gives back reserved room that went largely unused.
    void Squeeze() noexcept;

    TPolygonView Polygon(std::int32_t NPolygon) const;
    TPolygonRange Polygons() const noexcept { return TPolygonRange(*this); }

    // Set for a plot read in plotter units (1/40 mm, 2.5 store units): placed
    // on whole plotter units, a cutter's own rounding keeps each segment's
    // length. Reset clears it.
    void SetPlotterUnits(bool On) noexcept { FPlotterUnits = On; }
    bool PlotterUnits() const noexcept { return FPlotterUnits; }

private:
    std::vector<TPoint> FPoints;        // every polyline's points, one after the other
    std::vector<std::uint32_t> FStarts; // index in FPoints of each polyline's first point
    std::vector<TRect> FBounds;         // each polyline's bound
    TRect FBound = EmptyBound;
    std::int32_t FContPolygon = 0;
    std::int32_t FContPoint = 0;
    bool FPlotterUnits = false;
};

// Whether any polyline goes somewhere: a plot of lone points (or of none)
// has nothing for a knife to cut.
bool HasLength(const TPLT& Store) noexcept;

inline std::size_t TPolygonRange::size() const noexcept
{
    return static_cast<std::size_t>(FPlt->NPolygons());
}

inline TPolygonView TPolygonRange::operator[](std::size_t index) const
{
    return FPlt->Polygon(static_cast<std::int32_t>(index));
}

inline TPolygonView TPolygonRange::iterator::operator*() const
{
    return FPlt->Polygon(static_cast<std::int32_t>(FIndex));
}
