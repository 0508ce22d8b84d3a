#include "platform/PlotFile.h"

#include "common/Exceptions.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"

#include <algorithm>
#include <vector>

std::vector<std::string> ReadPlotFile(TPLT& Store, const std::string& FileName, std::span<const int> Pens,
                                      const HpglSheet& Sheet)
{
    const std::string fullPath = PlotFileFullPath(FileName);
    const std::string content = LoadPlotFile(FileName, fullPath);
    std::vector<std::string> notices;
    // The sample's layout ends at a NUL; text after one goes to the HP-GL
    // reader, which refuses it there rather than drop the rest.
    if (InSampleLayout(content, fullPath) && !TextGoesOnAfterNul(content)) {
        // Read aside, so that a plot refused below leaves Store as it was.
        TPLT read;
        ReadPlotData(read, content, fullPath);
        if (!Pens.empty() && std::ranges::find(Pens, 1) == Pens.end())
            read.Reset();
        // Moves alone, or the pen put down where it stands, cut nothing: a
        // job of them would pass for a cut.
        if (read.NPolygons() > 0 && !HasLength(read)) {
            bool plunges = false;
            for (const TPolygonView& p : read.Polygons())
                plunges = plunges || p.Points.size() > 1;
            throw EFileError(plunges ? Format("The plot file \"%1\" has nothing to cut: %2", fullPath, NoLengthReason)
                                     : NothingToCutMessage(FileName, Pens));
        }
        Store = std::move(read);
    } else {
        notices = ReadHpglData(Store, content, fullPath, Pens, Sheet);
    }
    // Pens that match nothing are the user's mistake, not a blank job.
    if (!Pens.empty() && Store.NPolygons() == 0)
        throw EFileError(NothingToCutMessage(FileName, Pens));
    return notices;
}

std::string NothingToCutMessage(const std::string& FileName, std::span<const int> Pens)
{
    const std::string start = Format("The plot file \"%1\" has nothing to cut", PlotFileFullPath(FileName));
    if (Pens.empty())
        return start + ": it draws no line, circle or arc with the pen down";
    // A long list is named by its first few: the message stays a sentence.
    constexpr std::size_t Named = 8;
    if (Pens.size() > Named)
        return start + Format(" with pens %1 and %2 more", PensText(Pens.first(Named)), Pens.size() - Named);
    return start + Format(Pens.size() == 1 ? " with pen %1" : " with pens %1", PensText(Pens));
}
