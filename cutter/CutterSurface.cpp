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
    // The scale on the cutter's own axes.
    const double scaleX = (settings.Rotate90 ? c.ScaleYPercent : c.ScaleXPercent) / 100;
    const double scaleY = (settings.Rotate90 ? c.ScaleXPercent : c.ScaleYPercent) / 100;
    double strokeOffset = c.BladeOffsetMm;
    for (double offset : c.PathOffsetsMm)
        strokeOffset = std::max(strokeOffset, offset);
    if (strokeOffset > 0) {
        // The sheet in the cutter's scaled numbers, where the cutter's own
        // error puts its edges: the aligning stroke stays on it.
        const bool turned = settings.Rotate90;
        FBlade = std::make_unique<BladeStage>(*FEncode, (turned ? Page().HeightMm : Page().WidthMm) * scaleX,
                                              (turned ? Page().WidthMm : Page().HeightMm) * scaleY, strokeOffset);
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
    FAxes = std::make_unique<AxesStage>(*next, settings.Rotate90, settings.MirrorX, settings.MirrorY, Page().WidthMm,
                                        Page().HeightMm, c.ScaleXPercent, c.ScaleYPercent, c.SkewDeg);
    FClip = std::make_unique<ClipStage>(*FAxes, Page().WidthMm, Page().HeightMm);
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
        const PointMm p = FAxes->Map(corner);
        from = {std::min(from.X, p.X), std::min(from.Y, p.Y)};
        to = {std::max(to.X, p.X), std::max(to.Y, p.Y)};
    }
    FBlade->Compensation().KeepClearOf(from, to);
}

SheetShare CutterSurface::Share() const
{
    SheetShare share = FClip->Share();
    share.AlignStrokeLeftOut = FBlade && FBlade->Compensation().AlignLeftOut();
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
