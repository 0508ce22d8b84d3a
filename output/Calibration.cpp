#include "output/Calibration.h"

#include "common/Exceptions.h"
#include "cutter/PrintableArea.h"
#include "output/PlotPrinting.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <algorithm>
#include <cmath>

TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets)
{
    pathOffsets.clear();
    const OrientedPage page = OrientPage(settings);
    const double w = page.WidthMm - page.MarginLeftMm - page.MarginRightMm;
    const double h = page.HeightMm - page.MarginBottomMm - page.MarginTopMm;
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
