#include "plot/UPLT.h"

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

} // namespace

void TPLT::Reset()
{
    PLT.clear();
    PLT.shrink_to_fit();
    FContPolygon = 0;
    FContPoint = 0;
    FBound = EmptyBound;
}

void TPLT::AddPolygon()
{
    PLT.push_back(TPolygon{{}, EmptyBound});
    FContPoint = 0;
    ++FContPolygon;
}

void TPLT::AddPoint(TPoint Puntos)
{
    if (FContPolygon <= 0)
        return;
    TPolygon& last = PLT.back();
    last.Points.push_back(Puntos);
    ++FContPoint;
    Widen(last.Bound, Puntos);
    Widen(FBound, Puntos);
}

void TPLT::ReadPolygon(std::int32_t NPolygon, TPolygon& Result) const
{
    if (NPolygon < 0 || NPolygon >= FContPolygon)
        return;
    Result = PLT[static_cast<std::size_t>(NPolygon)];
}
