// Feeds arbitrary bytes to the plot reader as file content, three ways, and
// insists they agree: in memory through the byte-level parser, as decoded
// lines through ReadPlotText, and from a file on disk when the content is in
// the sample's layout. Any crash, sanitizer report or disagreement is a
// finding.

#include "common/Exceptions.h"
#include "platform/PlotFile.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"

#include <QByteArrayView>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

namespace {

struct Outcome {
    QString Error; // "<kind>: <message>", empty when the read succeeded
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
        o.Error = QStringLiteral("convert: ") + e.Message();
    } catch (const EFileError& e) {
        o.Error = QStringLiteral("file: ") + e.Message();
    }
    return o;
}

void Check(bool ok, const char* what, const Outcome& a, const Outcome& b)
{
    if (ok)
        return;
    std::fprintf(stderr, "%s disagree:\n  [%s]\n  [%s]\n", what, qPrintable(a.Error), qPrintable(b.Error));
    std::abort();
}

const QString& TempFile()
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("input.plt"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, static_cast<qsizetype>(size));
    const QString& path = TempFile();

    const Outcome inPlace = Run([&](TPLT& s) { ReadPlotData(s, bytes, path); });
    const Outcome viaLines = Run([&](TPLT& s) { ReadPlotText(s, PlotDataLines(bytes, path)); });
    Check(inPlace.Error == viaLines.Error && SameStore(inPlace.Store, viaLines.Store), "in-place and line reads",
          inPlace, viaLines);

    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes.data(), bytes.size()) != bytes.size())
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
        Check(inPlace.Error == fromFile.Error && SameStore(inPlace.Store, fromFile.Store), "in-place and file reads",
              inPlace, fromFile);
    }
    return 0;
}
