#include "output/CalibrationPicture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <optional>
#include <tuple>

namespace {

// The ladder's and the grid's cells numbered in the picture: enough to show
// that a long tick counts five.
constexpr int NumberedCells = 6;

struct Segment {
    TPoint A, B;
};

std::optional<Segment> AsSegment(const TPolygonView& p)
{
    if (p.Points.size() != 2)
        return std::nullopt;
    return Segment{p.Points[0], p.Points[1]};
}

bool Horizontal(const Segment& s)
{
    return s.A.Y == s.B.Y && s.A.X != s.B.X;
}

bool Vertical(const Segment& s)
{
    return s.A.X == s.B.X && s.A.Y != s.B.Y;
}

// A closed polyline along its bound's four sides.
bool IsRectangle(const TPolygonView& p)
{
    if (p.Points.size() != 5 || p.Points.front() != p.Points.back())
        return false;
    for (const TPoint& q : p.Points)
        if ((q.X != p.Bound.Left && q.X != p.Bound.Right) || (q.Y != p.Bound.Bottom && q.Y != p.Bound.Top))
            return false;
    return p.Bound.Left < p.Bound.Right && p.Bound.Bottom < p.Bound.Top;
}

class PictureMaker {
public:
    PictureMaker(CalibrationPicture& picture) : P(picture), Th(picture.TextHeight) {}

    void Cut(const TPLT& plot)
    {
        for (const TPolygonView polygon : plot.Polygons()) {
            PicturePath path;
            for (const TPoint& q : polygon.Points)
                path.Points.push_back(P.At(q));
            P.Paths.push_back(std::move(path));
        }
    }

    // A dimension line for the length from `from` to `to`: along x at
    // picture y `at` below them, or along y at picture x `at` to their left;
    // with its extension lines, its arrows and its label beyond it.
    void Dimension(PicturePoint from, PicturePoint to, bool alongX, double at, const std::string& label)
    {
        const double reach = Th * 0.25, clear = Th * 0.15;
        PicturePoint a, b, text;
        if (alongX) {
            a = {from.X, at};
            b = {to.X, at};
            Mark({{from.X, from.Y + clear}, {from.X, at + reach}});
            Mark({{to.X, to.Y + clear}, {to.X, at + reach}});
            text = {(a.X + b.X) / 2, at + Th * 0.8};
        } else {
            a = {at, from.Y};
            b = {at, to.Y};
            Mark({{from.X - clear, from.Y}, {at - reach, from.Y}});
            Mark({{to.X - clear, to.Y}, {at - reach, to.Y}});
            text = {at - Th * 0.7, (a.Y + b.Y) / 2};
        }
        Mark({a, b}, label);
        Arrow(a, b);
        Arrow(b, a);
        Text(text, label, Th);
    }

    void Mark(std::vector<PicturePoint> points, std::string measures = {})
    {
        P.Paths.push_back({PictureInk::Mark, std::move(points), std::move(measures)});
    }

    void Text(PicturePoint centre, std::string text, double height)
    {
        P.Texts.push_back({centre, std::move(text), height});
    }

    // An arrow head at tip, on the line coming from `from`.
    void Arrow(PicturePoint tip, PicturePoint from)
    {
        const double dx = from.X - tip.X, dy = from.Y - tip.Y, length = std::hypot(dx, dy);
        if (length <= 0)
            return;
        const double size = std::min(Th * 0.4, length / 3), ux = dx / length * size, uy = dy / length * size;
        Mark({{tip.X + ux - uy * 0.5, tip.Y + uy + ux * 0.5}, tip, {tip.X + ux + uy * 0.5, tip.Y + uy - ux * 0.5}});
    }

    // A ring around a point.
    void Ring(PicturePoint centre, double radius)
    {
        std::vector<PicturePoint> points;
        constexpr int Sides = 24;
        for (int i = 0; i <= Sides; ++i) {
            const double angle = 2 * 3.14159265358979323846 * i / Sides;
            points.push_back({centre.X + radius * std::cos(angle), centre.Y + radius * std::sin(angle)});
        }
        Mark(std::move(points));
    }

    CalibrationPicture& P;
    double Th;
};

// The scale lines: X below the plot between the x line's ticks, Y to its
// left between the y line's.
void MarkScale(PictureMaker& m, const TPLT& plot)
{
    std::optional<Segment> xLine, yLine;
    const auto longer = [](const std::optional<Segment>& best, const Segment& s) {
        const auto length = [](const Segment& t) { return std::abs(t.B.X - t.A.X) + std::abs(t.B.Y - t.A.Y); };
        return !best || length(s) > length(*best);
    };
    for (const TPolygonView polygon : plot.Polygons())
        if (const std::optional<Segment> s = AsSegment(polygon)) {
            if (Horizontal(*s) && longer(xLine, *s))
                xLine = s;
            if (Vertical(*s) && longer(yLine, *s))
                yLine = s;
        }
    // The tick across a line's end: where the line is measured from.
    const auto tick = [&plot](TPoint end, bool acrossX) -> std::optional<Segment> {
        for (const TPolygonView polygon : plot.Polygons())
            if (const std::optional<Segment> s = AsSegment(polygon)) {
                if (acrossX && Vertical(*s) && s->A.X == end.X && std::min(s->A.Y, s->B.Y) <= end.Y
                    && std::max(s->A.Y, s->B.Y) >= end.Y)
                    return s;
                if (!acrossX && Horizontal(*s) && s->A.Y == end.Y && std::min(s->A.X, s->B.X) <= end.X
                    && std::max(s->A.X, s->B.X) >= end.X)
                    return s;
            }
        return std::nullopt;
    };
    const TRect bound = plot.Bound();
    const double gap = m.Th * 0.6;
    if (xLine) {
        const auto t1 = tick(xLine->A, true), t2 = tick(xLine->B, true);
        if (t1 && t2) {
            const PicturePoint a = m.P.At({t1->A.X, std::min(t1->A.Y, t1->B.Y)});
            const PicturePoint b = m.P.At({t2->A.X, std::min(t2->A.Y, t2->B.Y)});
            m.Dimension(a, b, true, m.P.At({0, bound.Bottom}).Y + gap, "X");
        }
    }
    if (yLine) {
        const auto t1 = tick(yLine->A, false), t2 = tick(yLine->B, false);
        if (t1 && t2) {
            const PicturePoint a = m.P.At({std::min(t1->A.X, t1->B.X), t1->A.Y});
            const PicturePoint b = m.P.At({std::min(t2->A.X, t2->B.X), t2->A.Y});
            m.Dimension(a, b, false, m.P.At({bound.Left, 0}).X - gap, "Y");
        }
    }
}

// The square: its sides below and to the left, the diagonals between the
// corners with one tick (A) and with two (B), A's lower corner ringed.
void MarkSquare(PictureMaker& m, const TPLT& plot)
{
    std::optional<TRect> square;
    for (const TPolygonView polygon : plot.Polygons())
        if (IsRectangle(polygon)
            && (!square
                || static_cast<double>(polygon.Bound.Right - polygon.Bound.Left)
                           * (polygon.Bound.Top - polygon.Bound.Bottom)
                       > static_cast<double>(square->Right - square->Left) * (square->Top - square->Bottom)))
            square = polygon.Bound;
    if (!square)
        return;
    const TRect r = *square;
    // Lower left, lower right, upper right, upper left: each ticked corner's
    // ticks are the lines nearer it than any other corner.
    const TPoint corners[] = {{r.Left, r.Bottom}, {r.Right, r.Bottom}, {r.Right, r.Top}, {r.Left, r.Top}};
    int ticks[4] = {};
    for (const TPolygonView polygon : plot.Polygons())
        if (const std::optional<Segment> s = AsSegment(polygon)) {
            const double x = (static_cast<double>(s->A.X) + s->B.X) / 2, y = (static_cast<double>(s->A.Y) + s->B.Y) / 2;
            int nearest = 0;
            double best = std::numeric_limits<double>::infinity();
            for (int i = 0; i < 4; ++i)
                if (const double d = std::hypot(x - corners[i].X, y - corners[i].Y); d < best) {
                    best = d;
                    nearest = i;
                }
            ++ticks[nearest];
        }
    // A runs from the lower corner with one tick to the one opposite it.
    const int a = ticks[0] == 1 ? 0 : 1, b = 1 - a;
    const PicturePoint aFrom = m.P.At(corners[a]), aTo = m.P.At(corners[a + 2]);
    const PicturePoint bFrom = m.P.At(corners[b]), bTo = m.P.At(corners[b + 2]);
    m.Mark({aFrom, aTo}, "A");
    m.Mark({bFrom, bTo}, "B");
    m.Ring(aFrom, m.Th * 0.45);
    // Each label near its lower corner, between the diagonal and the side.
    for (const auto& [from, to, label] : {std::tuple(aFrom, aTo, "A"), std::tuple(bFrom, bTo, "B")}) {
        const double dx = to.X - from.X, dy = to.Y - from.Y, length = std::hypot(dx, dy);
        const double along = std::min(m.Th * 2.2, length / 4), aside = m.Th * 0.75;
        const double ux = dx / length, uy = dy / length;
        // Across the diagonal, towards the bottom side (down is +y).
        const double sx = uy > 0 ? uy : -uy, sy = uy > 0 ? -ux : ux;
        const double flip = sy > 0 ? 1 : -1;
        m.Text({from.X + ux * along + sx * aside * flip, from.Y + uy * along + sy * aside * flip}, label, m.Th);
    }
    const TRect bound = plot.Bound();
    const double gap = m.Th * 0.6;
    m.Dimension(m.P.At(corners[0]), m.P.At(corners[1]), true, m.P.At({0, bound.Bottom}).Y + gap, "x");
    m.Dimension(m.P.At(corners[0]), m.P.At(corners[3]), false, m.P.At({bound.Left, 0}).X - gap, "y");
}

// The ladder's and the grid's cells: each number, as its tally ticks give
// it, under the ticks of the first few.
void NumberCells(PictureMaker& m, const TPLT& plot)
{
    std::vector<TRect> cells;
    std::vector<Segment> ticks;
    for (const TPolygonView polygon : plot.Polygons()) {
        if (IsRectangle(polygon))
            cells.push_back(polygon.Bound);
        else if (const std::optional<Segment> s = AsSegment(polygon); s && Vertical(*s))
            ticks.push_back(*s);
    }
    if (ticks.empty())
        return;
    const auto tickLength = [](const Segment& s) { return std::abs(s.B.Y - s.A.Y); };
    std::int32_t shortest = std::numeric_limits<std::int32_t>::max();
    for (const Segment& s : ticks)
        shortest = std::min(shortest, tickLength(s));
    struct Tally {
        int Number = 0;
        std::int32_t Left = std::numeric_limits<std::int32_t>::max(), Right = 0, Bottom = 0;
    };
    std::vector<Tally> tallies(cells.size());
    std::int32_t gapUnder = std::numeric_limits<std::int32_t>::max();
    for (const Segment& s : ticks) {
        // A cell's ticks stand under it, nearer it than any other cell.
        const std::int32_t top = std::max(s.A.Y, s.B.Y), bottom = std::min(s.A.Y, s.B.Y);
        int owner = -1;
        for (size_t i = 0; i < cells.size(); ++i)
            if (s.A.X >= cells[i].Left && s.A.X <= cells[i].Right && cells[i].Bottom >= top
                && (owner < 0 || cells[i].Bottom < cells[static_cast<size_t>(owner)].Bottom))
                owner = static_cast<int>(i);
        if (owner < 0)
            continue;
        Tally& t = tallies[static_cast<size_t>(owner)];
        t.Number += tickLength(s) * 2 > shortest * 3 ? 5 : 1;
        t.Left = std::min(t.Left, s.A.X);
        t.Right = std::max(t.Right, s.A.X);
        t.Bottom = bottom;
        // Room under the ticks: down to the next cell below.
        for (const TRect& c : cells)
            if (c.Top <= bottom && s.A.X >= c.Left && s.A.X <= c.Right)
                gapUnder = std::min(gapUnder, bottom - c.Top);
    }
    // Numbers fit between a row's ticks and the row below.
    double height = m.Th;
    if (gapUnder != std::numeric_limits<std::int32_t>::max())
        height = std::min(height, gapUnder * m.P.Scale * 0.7);
    for (const Tally& t : tallies)
        if (t.Number >= 1 && t.Number <= NumberedCells) {
            const PicturePoint under = m.P.At({(t.Left + t.Right) / 2, t.Bottom});
            m.Text({under.X, under.Y + m.Th * 0.15 + height / 2}, std::to_string(t.Number), height);
        }
}

} // namespace

CalibrationPicture PatternPicture(const CalibrationCut& cut, const DeviceSettings& settings, double width,
                                  double height, double textHeight)
{
    std::vector<double> unused;
    const TPLT plot = PatternPlot(cut, settings, unused);
    CalibrationPicture picture;
    picture.Width = width;
    picture.Height = height;
    picture.TextHeight = textHeight;
    const TRect b = plot.Bound();
    const double plotWidth = std::max(1.0, static_cast<double>(b.Right) - b.Left);
    const double plotHeight = std::max(1.0, static_cast<double>(b.Top) - b.Bottom);
    // Room on every side for the marks and their labels.
    const double margin = textHeight * 2;
    picture.Scale = std::min((width - 2 * margin) / plotWidth, (height - 2 * margin) / plotHeight);
    if (!(picture.Scale > 0))
        return picture; // no room to draw in
    picture.Origin = {(width - plotWidth * picture.Scale) / 2 - b.Left * picture.Scale,
                      (height - plotHeight * picture.Scale) / 2 + b.Top * picture.Scale};
    PictureMaker maker(picture);
    maker.Cut(plot);
    switch (cut.Pattern) {
    case CalibrationPattern::Scale: MarkScale(maker, plot); break;
    case CalibrationPattern::Square: MarkSquare(maker, plot); break;
    case CalibrationPattern::Ladder:
    case CalibrationPattern::Grid: NumberCells(maker, plot); break;
    case CalibrationPattern::TestCut:
    case CalibrationPattern::Sample: break;
    }
    return picture;
}
