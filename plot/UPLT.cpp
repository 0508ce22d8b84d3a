#include "plot/UPLT.h"

#include <limits>
#include <new>

namespace {

void Widen(TRect& r, TPoint p)
{
    if (p.X < r.Left)
        r.Left = p.X;
    if (p.Y > r.Top)
        r.Top = p.Y;
    if (p.X > r.Right)
        r.Right = p.X;
    if (p.Y < r.Bottom)
        r.Bottom = p.Y;
}

template <typename T>
void Release(std::vector<T>& v)
{
    std::vector<T>().swap(v);
}

template <typename T>
void SqueezeVector(std::vector<T>& v) noexcept
{
    // Only when at least half is unused: copying a nearly full array would
    // briefly hold it twice for little gain. shrink_to_fit is a request that
    // does nothing when memory is short.
    if (v.size() < v.capacity() / 2)
        v.shrink_to_fit();
}

} // namespace

void TPLT::Reset()
{
    Release(FPoints);
    Release(FStarts);
    Release(FBounds);
    FContPolygon = 0;
    FContPoint = 0;
    FBound = EmptyBound;
    FPlotterUnits = false;
}

void TPLT::AddPolygon()
{
    // Offsets are 32-bit; a plot that large is far beyond what a reader accepts.
    if (FPoints.size() > std::numeric_limits<std::uint32_t>::max()
        || FContPolygon == std::numeric_limits<std::int32_t>::max())
        throw std::bad_alloc();
    FStarts.push_back(static_cast<std::uint32_t>(FPoints.size()));
    try {
        FBounds.push_back(EmptyBound);
    } catch (...) {
        FStarts.pop_back();
        throw;
    }
    FContPoint = 0;
    ++FContPolygon;
}

void TPLT::AddPoint(TPoint Puntos)
{
    if (FContPolygon <= 0)
        return;
    FPoints.push_back(Puntos);
    ++FContPoint;
    Widen(FBounds.back(), Puntos);
    Widen(FBound, Puntos);
}

TPolygonView TPLT::Polygon(std::int32_t NPolygon) const
{
    if (NPolygon < 0 || NPolygon >= FContPolygon)
        return {{}, EmptyBound};
    const auto i = static_cast<std::size_t>(NPolygon);
    const std::size_t first = FStarts[i];
    const std::size_t last = i + 1 < FStarts.size() ? FStarts[i + 1] : FPoints.size();
    return {std::span<const TPoint>(FPoints.data() + first, last - first), FBounds[i]};
}

void TPLT::ReadPolygon(std::int32_t NPolygon, TPolygon& Result) const
{
    if (NPolygon < 0 || NPolygon >= FContPolygon)
        return;
    const TPolygonView p = Polygon(NPolygon);
    Result.Points.assign(p.Points.begin(), p.Points.end());
    Result.Bound = p.Bound;
}

void TPLT::Reserve(std::size_t Polygons, std::size_t Points)
{
    FPoints.reserve(Points);
    FStarts.reserve(Polygons);
    FBounds.reserve(Polygons);
}

void TPLT::Squeeze() noexcept
{
    SqueezeVector(FPoints);
    SqueezeVector(FStarts);
    SqueezeVector(FBounds);
}

bool HasLength(const TPLT& Store) noexcept
{
    // A polyline that goes anywhere leaves its first point, so its bound
    // is more than a point.
    for (const TPolygonView& p : Store.Polygons())
        if (p.Bound.Left != p.Bound.Right || p.Bound.Top != p.Bound.Bottom)
            return true;
    return false;
}
