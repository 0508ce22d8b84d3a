#include "output/Calibration.h"

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "output/PlotPrinting.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <algorithm>
#include <cmath>

namespace {

// The part of the sheet a pattern may take.
std::pair<double, double> PatternRoomMm(const DeviceSettings& settings)
{
    const OrientedPage page = OrientPage(settings);
    return {page.WidthMm - page.MarginLeftMm - page.MarginRightMm,
            page.HeightMm - page.MarginBottomMm - page.MarginTopMm};
}

} // namespace

std::pair<double, double> SquarePatternSizeMm(const DeviceSettings& settings)
{
    const auto [w, h] = PatternRoomMm(settings);
    const double width = std::min(SquareWidthMm, std::floor(w - 2 * SquareMarginMm));
    const double height = std::min(SquareHeightMm, std::floor(h - 2 * SquareMarginMm));
    if (!(width >= MinSquareSideMm && height >= MinSquareSideMm))
        throw EConvertError(Format("The sheet (%1 x %2 mm) is too small for the square pattern, which takes at "
                                   "least %3 x %3 mm",
                                   w, h, MinSquareSideMm + 2 * SquareMarginMm));
    return {width, height};
}

TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets)
{
    pathOffsets.clear();
    const auto [w, h] = PatternRoomMm(settings);
    TPLT plot;
    switch (cut.Pattern) {
    case CalibrationPattern::Sample: ReadPlotText(plot, BuiltInSampleLines()); return plot;
    case CalibrationPattern::Scale: {
        const double longest = std::floor(std::min(w - ScalePatternWidthMm(0), h - ScalePatternHeightMm(0)));
        if (!std::isfinite(cut.LengthMm) || cut.LengthMm < MinScaleLengthMm || cut.LengthMm > longest)
            throw EConvertError(longest < MinScaleLengthMm
                                    ? Format("The sheet (%1 x %2 mm) is too small for scale lines of %3 mm or more", w,
                                             h, MinScaleLengthMm)
                                    : Format("Scale lines of %1 mm do not fit; this sheet takes %2 to %3 mm",
                                             cut.LengthMm, MinScaleLengthMm, longest));
        MakeScalePattern(plot, cut.LengthMm);
        break;
    }
    case CalibrationPattern::Ladder: MakeLadderPattern(plot, LadderOffsets(cut.Offsets), pathOffsets); break;
    case CalibrationPattern::TestCut: MakeTestCutPattern(plot); break;
    case CalibrationPattern::Square: {
        const auto [width, height] = SquarePatternSizeMm(settings);
        MakeSquarePattern(plot, width, height);
        break;
    }
    }
    CheckPatternFits(plot, std::string(PatternWord(cut.Pattern)) + " pattern", w, h);
    return plot;
}

PrintResult PrintPattern(const CalibrationCut& cut, PrintRequest request)
{
    std::vector<double> pathOffsets;
    const TPLT plot = PatternPlot(cut, request.Target.Settings, pathOffsets);
    // The ladder's offsets are for this one job.
    request.Target.Settings.Corrections.PathOffsetsMm = std::move(pathOffsets);
    return PrintPlot(plot, request);
}
