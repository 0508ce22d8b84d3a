// Feeds arbitrary bytes to the plot reader as file content, three ways, and
// insists they agree: in memory through the byte-level parser, as decoded
// lines through ReadPlotText, and from a file on disk when the content is in
// the sample's layout. Any crash, sanitizer report or disagreement is a
// finding.

#include "common/Exceptions.h"
#include "platform/PlotFile.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/UPLT.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

struct Outcome {
    std::string Error; // "<kind>: <message>", empty when the read succeeded
    TPLT Store;
};

bool SameStore(const TPLT& a, const TPLT& b)
{
    if (a.NPolygons() != b.NPolygons() || !(a.Bound() == b.Bound()))
        return false;
    for (std::size_t i = 0; i < a.Polygons().size(); ++i) {
        const TPolygonView p = a.Polygons()[i];
        const TPolygonView q = b.Polygons()[i];
        if (!std::ranges::equal(p.Points, q.Points) || !(p.Bound == q.Bound))
            return false;
    }
    return true;
}

template <typename Read>
Outcome Run(Read read)
{
    Outcome o;
    // A non-empty store shows whether a failing read resets it.
    o.Store.AddPolygon();
    o.Store.AddPoint({1, 1});
    try {
        read(o.Store);
    } catch (const EConvertError& e) {
        o.Error = "convert: " + e.Message();
    } catch (const EFileError& e) {
        o.Error = "file: " + e.Message();
    }
    return o;
}

void Check(bool ok, const char* what, const Outcome& a, const Outcome& b)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s disagree:\n  [%s]\n  [%s]\n", what, a.Error.c_str(), b.Error.c_str());
    std::abort();
}

// A folder of its own, removed when the fuzzer ends.
const std::string& TempFile()
{
    static const std::string folder = [] {
        char pattern[] = "/tmp/fuzz_plot_reader.XXXXXX";
        if (!::mkdtemp(pattern))
            std::abort();
        return std::string(pattern);
    }();
    static const std::string path = folder + "/input.plt";
    static const struct Cleanup {
        ~Cleanup()
        {
            ::unlink(path.c_str());
            ::rmdir(folder.c_str());
        }
    } cleanup;
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string& path = TempFile();

    const Outcome inPlace = Run([&](TPLT& s) { ReadPlotData(s, bytes, path); });
    const Outcome viaLines = Run([&](TPLT& s) { ReadPlotText(s, PlotDataLines(bytes, path)); });
    Check(inPlace.Error == viaLines.Error && SameStore(inPlace.Store, viaLines.Store), "in-place and line reads",
          inPlace, viaLines);

    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
            std::abort();
    }
    // Files out of the sample's layout, and those whose text goes on after a
    // NUL, go to the HP-GL reader, fuzzed on its own; content that cannot be
    // decoded fails alike either way.
    bool sampleLayout = true;
    try {
        sampleLayout = InSampleLayout(bytes, path) && !TextGoesOnAfterNul(bytes);
    } catch (const EFileError&) {
    }
    if (sampleLayout) {
        const Outcome fromFile = Run([&](TPLT& s) { ReadPlotFile(s, path); });
        // A file is also refused when what it draws has no length, which the
        // text reader leaves to its caller.
        const bool refusedForNoLength = inPlace.Error.empty() && inPlace.Store.NPolygons() > 0
                                        && !HasLength(inPlace.Store)
                                        && fromFile.Error.find("has nothing to cut") != std::string::npos;
        // A file refused leaves the store as it was.
        const bool same =
            inPlace.Error == fromFile.Error
            && (inPlace.Error.empty() ? SameStore(inPlace.Store, fromFile.Store) : fromFile.Store.NPolygons() == 1);
        Check(refusedForNoLength || same, "in-place and file reads", inPlace, fromFile);
    }
    return 0;
}
