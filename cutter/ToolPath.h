#pragma once

// Reworking a cut path for a drag knife, in mm on the cutter's own axes.
//
// A drag knife's tip trails its swivel axis (where the cutter moves) by the
// blade offset r, so moving the axis along the drawing rounds every corner.
// The compensated path runs the axis r ahead of the tip: each segment is
// extended past its corner by r and joined to the next by an arc of radius r
// around the corner, on which the blade swivels in place. A lifted blade does
// not turn, so after a tool-up move the tip lands r behind the axis in the
// last cut's direction. The job starts with a short stroke clear of the
// drawing that sets the blade's direction, which is unknown until then.
//
// A job stays in proportion to its drawing: each corner adds one arc, of at
// most 14 chords (a half turn at the largest offset the corrections allow),
// and an overcut goes once round its shape at most.

#include <vector>

struct PointMm {
    double X = 0;
    double Y = 0;
    friend bool operator==(const PointMm&, const PointMm&) = default;
};

// Where the corrected path goes.
class ToolPathSink {
public:
    virtual ~ToolPathSink() = default;
    virtual void ToolUp(PointMm to) = 0;
    virtual void Cut(PointMm to) = 0;
};

class BladeCompensation {
public:
    // Arcs are cut in chords no more than this from the true arc.
    static constexpr double ChordToleranceMm = 0.01;

    // widthMm x heightMm: the area the aligning stroke is kept in, where
    // also 0 <= x - lean y <= widthMm (a skewed cutter's numbers lean the
    // sheet's sides); strokeOffsetMm: the offset that stroke is sized for
    // (the job's largest).
    BladeCompensation(ToolPathSink& sink, double widthMm, double heightMm, double strokeOffsetMm, double lean = 0);

    // For the paths that follow; 0 cuts them as drawn (the blade's direction
    // is still followed).
    void SetOffset(double mm);
    // The box (low to high corner) the whole job's drawing lies in, told
    // before the first cut: the aligning stroke keeps a clear gap from it,
    // paths still to come included. Without it the stroke is left out.
    void KeepClearOf(PointMm low, PointMm high) noexcept;
    // The stroke had no room on the sheet clear of the drawing (or nothing
    // told where the drawing is), so the job went without it.
    bool AlignLeftOut() const noexcept { return FAlignLeftOut; }
    // The tip's next path starts at p.
    void MoveTo(PointMm p) noexcept;
    // The tip cuts a straight line to p.
    void CutTo(PointMm p);

private:
    void Align(PointMm start, PointMm along);
    void Swivel(PointMm centre, PointMm from, PointMm to);

    ToolPathSink& FSink;
    double FWidth;
    double FHeight;
    double FStrokeOffset;
    double FLean;
    double FOffset = 0;
    // The widest turn one chord may take at this offset, and its cosine.
    double FMaxStep = 0;
    double FCosMaxStep = 1;
    PointMm FClearLow;
    PointMm FClearHigh;
    bool FClearKnown = false;
    PointMm FTip;
    PointMm FDirection{1, 0};
    bool FAligned = false;
    bool FAlignLeftOut = false;
    bool FUp = true;
};

// Extends a closed path (last point on the first) to be cut again from its
// start for lengthMm along its own course, but never more than once round;
// the nick at the start closes. Open paths, and paths of no length, stay as
// they are. The length is measured with x divided by scaleX and y by scaleY:
// on the sheet, for a path already on the cutter's scaled axes.
void AppendOvercut(std::vector<PointMm>& path, double lengthMm, double scaleX = 1, double scaleY = 1);
