#include "cutter/CutterSurface.h"

#include "common/Exceptions.h"
#include "cutter/CutStages.h"

#include <algorithm>
#include <limits>

CutterSurface::CutterSurface(const DeviceSettings& settings, int dpi, ByteSink& sink, std::function<bool()> stopped)
    : MappedSurface(settings, dpi), FCorrections(settings.Corrections),
      FEncoder(MakeCutterEncoder(settings.Language, sink))
{
    if (!FEncoder)
        throw EPrinter("No cutter language is chosen for this device");
    const CutterCorrections& c = FCorrections;
    // Refused before a byte is written.
    const ToolSetting own{c.Force, c.Speed};
    for (const ToolSetting& tool : c.PathTools)
        if (std::string problem = ToolSettingProblem(settings.Language, tool); !problem.empty())
            throw EConvertError(std::move(problem));
    if (std::string problem = ToolSettingProblem(settings.Language, own); !problem.empty())
        throw EConvertError(std::move(problem));
    FEncode = std::make_unique<EncodeStage>(*FEncoder, ReshapesPath(c), own);
    PathStage* next = FEncode.get();
    FAxesMap = std::make_unique<CutterAxes>(settings.Rotate90, settings.MirrorX, settings.MirrorY, Page().WidthMm,
                                            Page().HeightMm, c.ScaleXPercent, c.ScaleYPercent, c.SkewDeg);
    // The scale on the cutter's own axes.
    const double scaleX = (settings.Rotate90 ? c.ScaleYPercent : c.ScaleXPercent) / 100;
    const double scaleY = (settings.Rotate90 ? c.ScaleXPercent : c.ScaleYPercent) / 100;
    double strokeOffset = c.BladeOffsetMm;
    for (double offset : c.PathOffsetsMm)
        strokeOffset = std::max(strokeOffset, offset);
    if (strokeOffset > 0) {
        // The knife, its arcs and the aligning stroke stay on the sheet: on
        // its sides as well as within the cutter's reach of it.
        FBlade = std::make_unique<BladeStage>(*FEncode, FAxesMap->CutterSheet(true), strokeOffset);
        next = FBlade.get();
    }
    if (c.OvercutMm > 0) {
        FOvercut = std::make_unique<OvercutStage>(*next, c.OvercutMm, scaleX, scaleY);
        next = FOvercut.get();
    }
    if (c.Order == CutOrderMode::Optimised) {
        CutOrderOptions options;
        // The material moves along the sheet's length: plotter y, or plotter
        // x on a device with its axes turned.
        options.Feed = settings.Rotate90 ? FeedAxis::X : FeedAxis::Y;
        options.Stopped = std::move(stopped);
        FOrder = std::make_unique<OrderStage>(*next, options);
        next = FOrder.get();
    }
    if (FAxesMap->Skewed()) {
        // The shear moves points across the sheet's sides as the cutter
        // numbers them: they are clipped there, after the sheet's own clip.
        FCutterClip = std::make_unique<ClipStage>(*next, FAxesMap->CutterSheet(false));
        next = FCutterClip.get();
    }
    FAxes = std::make_unique<AxesStage>(*next, *FAxesMap);
    FClip = std::make_unique<ClipStage>(*FAxes, SheetClip(Page().WidthMm, Page().HeightMm));
    FFirst = FClip.get();
    if (c.WeedBoxMm > 0) {
        FWeed = std::make_unique<WeedBoxStage>(*FClip, c.WeedBoxMm, c.BladeOffsetMm, own);
        FFirst = FWeed.get();
    }
    FPath = std::make_unique<CutPathItem>();
    FEncoder->Begin();
    FEncoder->SetTool(own);
}

CutterSurface::~CutterSurface() = default;

PointMm CutterSurface::SheetMm(TPoint logical) const
{
    const SheetPointMm s = ToSheet(logical);
    return {s.X, s.Y};
}

void CutterSurface::SetDrawingBound(const TRect& logical)
{
    if (!FBlade || logical.Left > logical.Right || logical.Bottom > logical.Top)
        return;
    // The weed box is cut too: the stroke keeps clear of it as well.
    const double weed = FWeed ? FCorrections.WeedBoxMm : 0;
    const PointMm low = SheetMm({logical.Left, logical.Bottom}), high = SheetMm({logical.Right, logical.Top});
    // The mapping turns, mirrors, shears and scales the box: the stroke
    // keeps clear of the upright box round all four corners.
    PointMm from{std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
    PointMm to{-from.X, -from.Y};
    for (const PointMm corner : {PointMm{low.X - weed, low.Y - weed}, PointMm{high.X + weed, low.Y - weed},
                                 PointMm{low.X - weed, high.Y + weed}, PointMm{high.X + weed, high.Y + weed}}) {
        const PointMm p = FAxesMap->Map(corner);
        from = {std::min(from.X, p.X), std::min(from.Y, p.Y)};
        to = {std::max(to.X, p.X), std::max(to.Y, p.Y)};
    }
    FBlade->Compensation().KeepClearOf(from, to);
}

SheetShare CutterSurface::Share() const
{
    SheetShare share = FClip->Share();
    share.AlignStrokeLeftOut = FBlade && FBlade->Compensation().AlignLeftOut();
    // What the cutter's own edges took, of the paths and of the knife's
    // runs past their ends and round their corners, is told as left out.
    double leftOff = 0;
    if (FCutterClip)
        leftOff += FCutterClip->Share().TotalMm - FCutterClip->Share().KeptMm;
    if (FBlade)
        leftOff += FBlade->LeftOffMm();
    // A job that cuts something is never told it cut nothing.
    if (leftOff > 0 && share.KeptMm > 0)
        share.KeptMm = std::max(share.KeptMm - leftOff, std::numeric_limits<double>::min());
    return share;
}

void CutterSurface::Polyline(const TPoint* points, int count)
{
    // A single point would only plunge the blade: nothing to cut.
    const size_t pathIndex = FPathIndex++;
    if (FFinished || !points || count < 2)
        return;
    FPath->Points.clear();
    for (int i = 0; i < count; ++i)
        FPath->Points.push_back(SheetMm(points[i]));
    FPath->OffsetMm = pathIndex < FCorrections.PathOffsetsMm.size() ? FCorrections.PathOffsetsMm[pathIndex]
                                                                    : FCorrections.BladeOffsetMm;
    FPath->Tool = pathIndex < FCorrections.PathTools.size() ? FCorrections.PathTools[pathIndex]
                                                            : ToolSetting{FCorrections.Force, FCorrections.Speed};
    FPath->Resumes = FPath->Added = false;
    FFirst->Path(*FPath);
}

void CutterSurface::Finish()
{
    if (FFinished)
        return;
    FFinished = true;
    FFirst->Finish();
    FEncoder->End();
}
