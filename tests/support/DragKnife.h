#pragma once

// A drag knife as physics has it, for judging tool paths: the cutter moves
// the holder's axis; the blade tip trails it at a fixed distance and, pulled
// along the line between them, never slides sideways (the tip's path is a
// tractrix of the holder's). A lifted blade does not turn: after a tool-up
// move the tip sits behind the holder in the direction of the last cut.

#include <QPointF>

#include <vector>

// The tip's path for each cut path the holder follows (mm), the blade
// trailing at angle startAngle (radians, direction from tip to holder) before
// the first cut. Consecutive tip points lie no more than stepMm apart.
std::vector<std::vector<QPointF>> DragKnifeTip(const std::vector<std::vector<QPointF>>& holderPaths, double offsetMm,
                                               double startAngle, double stepMm = 0.002);

// How close the paths come to p.
double ClosestApproach(const std::vector<std::vector<QPointF>>& paths, QPointF p);

// The distance from p to the nearest segment of the polylines.
double DistanceToLines(const std::vector<std::vector<QPointF>>& lines, QPointF p);
