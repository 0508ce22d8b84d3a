// Feeds arbitrary bytes to the HP-GL reader. A failed read must leave the
// store as it was; a successful one, written back as plain PU/PD pairs, must
// read back to the same store. Any crash, sanitizer report or mismatch is a
// finding.

#include "common/Exceptions.h"
#include "plot/HpglReader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// A store coordinate in plotter units: 0.4 of it, exactly, as decimal text.
void PutUnits(std::string& out, std::int32_t v)
{
    const std::int64_t tenths = std::int64_t(v) * 4;
    if (tenths < 0)
        out += '-';
    const std::int64_t m = tenths < 0 ? -tenths : tenths;
    out += std::to_string(m / 10) + '.' + char('0' + m % 10);
}

std::string WrittenBack(const TPLT& store)
{
    std::string out = "IN;";
    for (const TPolygonView& p : store.Polygons()) {
        for (std::size_t i = 0; i < p.Points.size(); ++i) {
            out += i == 0 ? "PU" : i == 1 ? "PD" : ",";
            PutUnits(out, p.Points[i].X);
            out += ',';
            PutUnits(out, p.Points[i].Y);
            if (i == 0)
                out += ';';
        }
        out += ';';
    }
    return out;
}

bool SameStore(const TPLT& a, const TPLT& b)
{
    if (a.NPolygons() != b.NPolygons() || !(a.Bound() == b.Bound()))
        return false;
    for (std::size_t i = 0; i < a.Polygons().size(); ++i) {
        if (!std::ranges::equal(a.Polygons()[i].Points, b.Polygons()[i].Points))
            return false;
    }
    return true;
}

[[noreturn]] void Finding(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    TPLT store;
    store.AddPolygon();
    store.AddPoint({7, 7});
    const TPLT before = store;
    // The first pen only, so that pen changes are exercised too.
    const int pens[] = {1};
    try {
        ReadHpglData(store, bytes, "fuzz.plt", size % 2 ? std::span<const int>(pens) : std::span<const int>());
    } catch (const Exception&) {
        if (!SameStore(store, before))
            Finding("a failed read changed the store");
        return 0;
    }
    for (const TPolygonView& p : store.Polygons()) {
        if (p.Points.size() < 2)
            Finding("a polyline of fewer than two points");
    }
    TPLT again;
    try {
        ReadHpglData(again, WrittenBack(store), "again.plt");
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        Finding("the store written back does not read");
    }
    if (!SameStore(store, again))
        Finding("the store written back reads differently");
    return 0;
}
