#include "tests/support/DragKnife.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double Norm(QPointF v)
{
    return std::hypot(v.x(), v.y());
}

} // namespace

std::vector<std::vector<QPointF>> DragKnifeTip(const std::vector<std::vector<QPointF>>& holderPaths, double offsetMm,
                                               double startAngle, double stepMm)
{
    std::vector<std::vector<QPointF>> tips;
    QPointF trail(std::cos(startAngle), std::sin(startAngle)); // tip to holder, unit
    for (const auto& path : holderPaths) {
        std::vector<QPointF>& tip = tips.emplace_back();
        if (path.empty())
            continue;
        QPointF holder = path[0];
        QPointF t = holder - trail * offsetMm;
        tip.push_back(t);
        for (size_t i = 1; i < path.size(); ++i) {
            const QPointF move = path[i] - holder;
            const int steps = std::max(1, static_cast<int>(std::ceil(Norm(move) / stepMm)));
            const QPointF from = holder;
            for (int s = 1; s <= steps; ++s) {
                holder = from + move * (double(s) / steps);
                // Pulled along the line to the holder until the distance is
                // the offset again: no sideways slip.
                const QPointF rod = holder - t;
                const double length = Norm(rod);
                if (length > 0)
                    t = holder - rod * (offsetMm / length);
                tip.push_back(t);
            }
        }
        const QPointF rod = holder - t;
        if (Norm(rod) > 0)
            trail = rod / Norm(rod);
    }
    return tips;
}

double ClosestApproach(const std::vector<std::vector<QPointF>>& paths, QPointF p)
{
    double best = std::numeric_limits<double>::infinity();
    for (const auto& path : paths)
        for (const QPointF& q : path)
            best = std::min(best, Norm(q - p));
    return best;
}

double DistanceToLines(const std::vector<std::vector<QPointF>>& lines, QPointF p)
{
    double best = std::numeric_limits<double>::infinity();
    for (const auto& line : lines) {
        for (size_t i = 1; i < line.size(); ++i) {
            const QPointF a = line[i - 1], d = line[i] - a;
            const double length2 = QPointF::dotProduct(d, d);
            const double t = length2 > 0 ? std::clamp(QPointF::dotProduct(p - a, d) / length2, 0.0, 1.0) : 0.0;
            best = std::min(best, Norm(p - (a + d * t)));
        }
    }
    return best;
}
