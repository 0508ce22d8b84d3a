#pragma once

// A job's drawing surface written in a cutter's own command language: each
// polyline becomes a tool-up move to its first point and cuts through the
// rest. Same operations and meaning as the PDF surface, and every point lands
// where the PDF page would have it, to the nearest plotter unit.
//
// Only what falls on the sheet is cut: lines are clipped at its edges before
// the scale correction, which makes up for the cutter's own error: a cutter
// that cuts 1 % short has the sheet's edge 1 % further out in its numbers.
// Nor is anything commanded past the sheet as the cutter numbers it (its
// extent through the axes, the scale and the skew's lengthening of y): the
// skew's shear and the blade offset's arcs and runs past a path's end are
// clipped there too, on the cutter's axes, and what they lose is told with
// the share of the plot left out.
//
// Plotter coordinates count from the sheet's lower-left corner, x to the
// right, y up. For cutters whose axes differ, the device settings turn them,
// in this order, each about the whole sheet so coordinates stay non-negative
// on it (W, H: the sheet as the job sees it, after Landscape):
//   Rotate90: a quarter turn, not a reflection: plotter x runs up the sheet
//             and plotter y from its right edge leftward, (x, y) -> (y, W - x);
//             the extents become H along x and W along y.
//   MirrorX:  x -> (extent along x) - x.
//   MirrorY:  y -> (extent along y) - y.
//
// The device's corrections then apply on the cutter's axes: the scale about
// the cutter's own origin (where its error starts), then the blade-offset
// compensation, with the overcut added to closed paths before it so the
// knife follows that too. The blade's aligning stroke goes where nothing of
// the drawing is, which SetDrawingBound tells; without room for it (or that
// bound) the job goes without it, and Share says so.
//
// The device's force and speed, when set, go once after the job's opening;
// paths with their own (the grid's cells) get theirs before them, and the
// device's are set again at the end.
//
// With the device's order "optimised" the job's paths are cut in the order
// CutOrder.h chooses, once the whole job is drawn; as drawn, each path goes
// out as it comes. A weed box is cut last, clipped like the rest.

#include "cutter/CutterLanguage.h"
#include "cutter/MappedSurface.h"
#include "cutter/ToolPath.h"

#include <functional>
#include <memory>
#include <vector>

struct CutPathItem;
class PathStage;
class EncodeStage;
class BladeStage;
class OvercutStage;
class OrderStage;
class AxesStage;
class CutterAxes;
class ClipStage;
class WeedBoxStage;

class CutterSurface final : public MappedSurface {
public:
    // dpi is the surface's device resolution: the unit of DPtoLP and the
    // viewport origin. Writes the job's opening to sink (buffered). Throws
    // EPrinter for SendAs::Driver, which has no cutter language, and
    // EConvertError for a force or speed the language does not take.
    // stopped, when given, is asked while the job's cuts are put in order
    // (which holds back every byte of them): true ends the job there, and
    // Finish throws EPrinter.
    CutterSurface(const DeviceSettings& settings, int dpi, ByteSink& sink, std::function<bool()> stopped = {});
    ~CutterSurface() override;

    void Polyline(const TPoint* points, int count) override;
    void SetDrawingBound(const TRect& logical) override;
    SheetShare Share() const override;

    // Lifts the tool and ends the job; the surface draws no more. A surface
    // dropped without Finish leaves its job unended: it is not to be sent.
    // Throws EFileError when the sink fails (here or while drawing).
    void Finish();

    double UnitsPerMm() const noexcept { return FEncoder->UnitsPerMm(); }
    // Pen-up travel in mm as drawn and as cut, once finished; null when the
    // job is cut as drawn.
    const OrderStage* Order() const noexcept { return FOrder.get(); }

private:
    PointMm SheetMm(TPoint logical) const;

    CutterCorrections FCorrections;
    std::unique_ptr<CutterEncoder> FEncoder;
    // The chain, from the encoder back; the stages not needed stay null.
    std::unique_ptr<EncodeStage> FEncode;
    std::unique_ptr<BladeStage> FBlade;
    std::unique_ptr<OvercutStage> FOvercut;
    std::unique_ptr<OrderStage> FOrder;
    std::unique_ptr<ClipStage> FCutterClip;
    std::unique_ptr<CutterAxes> FAxesMap;
    std::unique_ptr<AxesStage> FAxes;
    std::unique_ptr<ClipStage> FClip;
    std::unique_ptr<WeedBoxStage> FWeed;
    PathStage* FFirst = nullptr;
    std::unique_ptr<CutPathItem> FPath; // the path being drawn, its room kept
    size_t FPathIndex = 0;
    bool FFinished = false;
};
