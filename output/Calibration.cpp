#include "output/Calibration.h"

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "output/PlotPrinting.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

#include <algorithm>
#include <cmath>
#include <tuple>

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

std::vector<ToolSetting> GridCells(const CalibrationCut& cut, const DeviceSettings& settings, int& columns)
{
    const std::string_view language = LanguageName(settings.Language);
    const ToolRange force = ForceRange(settings.Language), speed = SpeedRange(settings.Language);
    if (force.Command.empty() && speed.Command.empty())
        throw EConvertError(Format("The grid sets the cutter's force and speed, and %1 has no command for either; "
                                   "choose another cutter language for this device",
                                   language));
    if (cut.Forces.Step == 0 && cut.Speeds.Step == 0)
        throw EConvertError("The grid needs the forces or the speeds to try (or both)");
    // One axis at a time: the device's own value, or the steps in range.
    const auto values = [&](const ToolSteps& steps, const ToolRange& range, double own, const char* what) {
        if (steps.Step == 0)
            return std::vector<int>{static_cast<int>(own)};
        if (range.Command.empty())
            throw EConvertError(Format("%1 has no command for the %2; leave the %2 out of the grid", language, what));
        const std::vector<int> v = ToolStepValues(steps, Format("%1s", what));
        if (v.front() < range.Low || v.back() > range.High)
            throw EConvertError(Format("%1 takes a %2 of %3 to %4 %5; %6 to %7 does not fit", language, what, range.Low,
                                       range.High, range.Unit, v.front(), v.back()));
        return v;
    };
    const std::vector<int> forces = values(cut.Forces, force, settings.Corrections.Force, "force");
    const std::vector<int> speeds = values(cut.Speeds, speed, settings.Corrections.Speed, "speed");
    if (forces.size() * speeds.size() > static_cast<size_t>(MaxLadderSquares))
        throw EConvertError(Format("%1 forces by %2 speeds make %3 cells, too many for one grid; at most %4 fit its "
                                   "numbering",
                                   forces.size(), speeds.size(), forces.size() * speeds.size(), MaxLadderSquares));
    std::vector<ToolSetting> cells;
    for (const int f : forces)
        for (const int v : speeds)
            cells.push_back({static_cast<double>(f), static_cast<double>(v)});
    columns = static_cast<int>(speeds.size());
    return cells;
}

TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets)
{
    std::vector<ToolSetting> pathTools;
    return PatternPlot(cut, settings, pathOffsets, pathTools);
}

TPLT PatternPlot(const CalibrationCut& cut, const DeviceSettings& settings, std::vector<double>& pathOffsets,
                 std::vector<ToolSetting>& pathTools)
{
    pathOffsets.clear();
    pathTools.clear();
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
    case CalibrationPattern::Grid: {
        int columns = 0;
        const std::vector<ToolSetting> cells = GridCells(cut, settings, columns);
        // The cutter keeps the last cell's setting until it is told another, so
        // the job ends by setting the device's own again: an axis the grid
        // varies needs one.
        for (const auto& [steps, own, what] : {std::tuple(cut.Forces, settings.Corrections.Force, "force"),
                                               std::tuple(cut.Speeds, settings.Corrections.Speed, "speed")})
            if (steps.Step != 0 && !(own > 0))
                throw EConvertError(
                    Format("The grid would leave the cutter at its last cell's %1: give the %1 the device "
                           "cuts with now, to set again after the grid (--%1, kept with --save, or in "
                           "Select Printer/Cutter...)",
                           what));
        MakeGridPattern(plot, cells, columns, pathTools);
        break;
    }
    }
    CheckPatternFits(plot, std::string(PatternWord(cut.Pattern)) + " pattern", w, h);
    return plot;
}

PrintResult PrintPattern(const CalibrationCut& cut, PrintRequest request)
{
    std::vector<double> pathOffsets;
    std::vector<ToolSetting> pathTools;
    const TPLT plot = PatternPlot(cut, request.Target.Settings, pathOffsets, pathTools);
    // The ladder's offsets and the grid's settings are for this one job.
    request.Target.Settings.Corrections.PathOffsetsMm = std::move(pathOffsets);
    request.Target.Settings.Corrections.PathTools = std::move(pathTools);
    return PrintPlot(plot, request);
}
