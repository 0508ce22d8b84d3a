// The Calibrate dialog's model, as both windows use it: the six patterns and
// their fields, the cut the fields make, the correction a measurement gives
// and keeping it, and the pattern's picture against its own plot.

#include "common/Exceptions.h"
#include "output/CalibrateModel.h"
#include "platform/DeviceSettingsStore.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

using F = CalibrateField;

DeviceSettings Sheet(SendAs language, double width = 210, double height = 297)
{
    DeviceSettings s;
    s.PaperName = "A4";
    s.PaperWidthMm = width;
    s.PaperHeightMm = height;
    s.ResolutionDpi = 1016;
    s.Language = language;
    // What the grid's job sets again at its end.
    s.Corrections.Force = 50;
    s.Corrections.Speed = 10;
    return s;
}

TCalibrateModel Model(CalibrationPattern pattern, const DeviceSettings& settings = Sheet(SendAs::HPGL))
{
    TCalibrateModel model({"Cutter", {}, {}}, settings);
    model.Choose(pattern);
    return model;
}

bool Near(PicturePoint a, PicturePoint b)
{
    return std::abs(a.X - b.X) < 1e-6 && std::abs(a.Y - b.Y) < 1e-6;
}

const PicturePath* Measuring(const CalibrationPicture& picture, const std::string& what)
{
    for (const PicturePath& path : picture.Paths)
        if (path.Measures == what)
            return &path;
    return nullptr;
}

const PictureText* Label(const CalibrationPicture& picture, const std::string& text)
{
    const PictureText* found = nullptr;
    for (const PictureText& t : picture.Texts)
        if (t.Text == text) {
            REQUIRE_MESSAGE(found == nullptr, "the label ", text, " stands twice");
            found = &t;
        }
    return found;
}

TPLT PlotOf(const CalibrationCut& cut, const DeviceSettings& settings)
{
    std::vector<double> unused;
    return PatternPlot(cut, settings, unused);
}

} // namespace

TEST_CASE("the list offers all six patterns, once each, with their fields")
{
    struct Row {
        CalibrationPattern Pattern;
        const char* Caption;
        std::vector<F> Cut, Measured;
    };
    const Row rows[] = {
        {CalibrationPattern::Scale, "Scale lines", {F::Length}, {F::MeasuredX, F::MeasuredY}},
        {CalibrationPattern::Ladder, "Blade offset ladder", {F::OffsetFrom, F::OffsetTo, F::OffsetStep}, {F::Best}},
        {CalibrationPattern::TestCut, "Test cut (force)", {}, {}},
        {CalibrationPattern::Square, "Square (skew)", {}, {F::SideX, F::SideY, F::DiagonalA, F::DiagonalB}},
        {CalibrationPattern::Grid,
         "Force \xc3\x97 speed grid",
         {F::ForceFrom, F::ForceTo, F::ForceStep, F::SpeedFrom, F::SpeedTo, F::SpeedStep},
         {F::Best}},
        {CalibrationPattern::Sample, "Sample", {}, {}},
    };
    REQUIRE(CalibratePatterns().size() == std::size(rows));
    std::set<std::string> mnemonics;
    for (size_t i = 0; i < std::size(rows); ++i) {
        const CalibratePatternChoice& choice = CalibratePatterns()[i];
        CAPTURE(std::string(rows[i].Caption));
        CHECK(choice.Pattern == rows[i].Pattern);
        CHECK(choice.Caption == rows[i].Caption);
        const auto fields = [](const std::vector<CalibrateRow>& lines) {
            std::vector<F> all;
            for (const CalibrateRow& line : lines) {
                // Each line has a mnemonic of its own, and one unit.
                CHECK(std::count(line.Label.begin(), line.Label.end(), '&') == 1);
                all.insert(all.end(), line.Fields.begin(), line.Fields.end());
            }
            return all;
        };
        CHECK(fields(choice.Rows) == rows[i].Cut);
        CHECK(fields(choice.Measured) == rows[i].Measured);
        // The cut goes out as the pattern chosen.
        TCalibrateModel model({"Cutter", {}, {}}, Sheet(SendAs::HPGL));
        model.Choose(static_cast<int>(i));
        CHECK(model.Cut().Pattern == rows[i].Pattern);
        CHECK_FALSE(model.Order().empty());
    }
}

TEST_CASE("the fields make the cut, and a field without a usable number is named")
{
    struct Row {
        CalibrationPattern Pattern;
        F Field;
        const char* Text;
        const char* Problem; // empty: the cut is made
    };
    const Row rows[] = {
        {CalibrationPattern::Scale, F::Length, " 150 ", ""},
        {CalibrationPattern::Scale, F::Length, "abc", "Line length: enter a number from 50 to 5000"},
        {CalibrationPattern::Scale, F::Length, "49.9", "Line length: enter a number from 50 to 5000"},
        {CalibrationPattern::Scale, F::Length, "inf", "Line length: enter a number from 50 to 5000"},
        {CalibrationPattern::Ladder, F::OffsetStep, "0", "Steps of: enter a number from 0.01 to 1.5"},
        {CalibrationPattern::Ladder, F::OffsetTo, "1.6", "Offsets to: enter a number from 0 to 1.5"},
        // Another pattern's field is not read.
        {CalibrationPattern::Ladder, F::Length, "abc", ""},
        {CalibrationPattern::Grid, F::ForceFrom, "2.5", "Forces from: enter a whole number from 0 to 1000"},
        {CalibrationPattern::Grid, F::SpeedStep, "OFF", ""},
        {CalibrationPattern::Grid, F::SpeedStep, "", "Speed step: enter a whole number from 0 to 1000"},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Text));
        TCalibrateModel model = Model(row.Pattern);
        model.SetText(row.Field, row.Text);
        CHECK(model.Text(row.Field) == row.Text);
        if (*row.Problem) {
            CHECK_THROWS_WITH_AS(model.Cut(), row.Problem, EConvertError);
            CHECK(model.Change().Text == row.Problem);
            CHECK_FALSE(model.Change().CanKeep);
            CHECK(model.Picture(200, 200, 12).Empty());
        } else {
            CHECK_NOTHROW(model.CutToSend());
        }
    }

    // The numbers as typed reach the cut.
    TCalibrateModel model = Model(CalibrationPattern::Scale);
    model.SetText(F::Length, "150");
    CHECK(model.Cut().LengthMm == 150);
    model.Choose(CalibrationPattern::Ladder);
    model.SetValue(F::OffsetFrom, 0.1);
    model.SetText(F::OffsetTo, "0.3");
    CHECK(model.Cut().Offsets == (LadderSteps{0.1, 0.3, 0.05}));
    CHECK(model.Limits(F::Best).High == 5);
    model.Choose(CalibrationPattern::Grid);
    model.SetText(F::SpeedStep, "off");
    CHECK(model.Text(F::SpeedStep) == "off");
    // HP-GL's forces from a fifth of its range up, in three steps.
    CHECK(model.Cut().Forces == (ToolSteps{80, 120, 20}));
    CHECK(model.Cut().Speeds.Step == 0);
    CHECK(model.Limits(F::Best).High == 3);
    // Without the device's own force to set again, the grid is not cut; its
    // picture still shows what it would be.
    TCalibrateModel unset({"Cutter", {}, {}}, [] {
        DeviceSettings s = Sheet(SendAs::HPGL);
        s.Corrections.Force = 0;
        return s;
    }());
    unset.Choose(CalibrationPattern::Grid);
    CHECK_THROWS_AS(unset.CutToSend(), EConvertError);
    CHECK_FALSE(unset.Picture(200, 200, 12).Empty());
    // Cut refuses, before any job, a pattern that does not fit the sheet.
    model.Choose(CalibrationPattern::Scale);
    model.SetValue(F::Length, 250);
    CHECK_THROWS_WITH_AS(model.CutToSend(), "Scale lines of 250 mm do not fit; this sheet takes 50 to 204 mm",
                         EConvertError);
}

TEST_CASE("each pattern starts at a size the active sheet takes: the usual one where it fits")
{
    using P = CalibrationPattern;
    struct Row {
        const char* Name;
        DeviceSettings Settings;
        double Length, OffsetTo, ForceTo; // ForceTo 0: no grid in the language
        std::vector<P> NotMade;           // no size of theirs fits
    };
    DeviceSettings landscape = Sheet(SendAs::HPGL), driver = Sheet(SendAs::Driver);
    landscape.Landscape = true;
    // A laser printer's margins leave 194 mm for the lines.
    driver.MarginLeftMm = driver.MarginRightMm = driver.MarginTopMm = driver.MarginBottomMm = 4;
    const Row rows[] = {
        {"A4 in a cutter language", Sheet(SendAs::HPGL), 200, 0.5, 120, {}},
        {"A4 landscape", landscape, 200, 0.5, 120, {}},
        {"A4 through the printer driver", driver, 190, 0.5, 0, {}},
        {"a 100 mm roll", Sheet(SendAs::HPGL, 100, 1000), 90, 0.3, 120, {}},
        {"a label of 60 x 40 mm", Sheet(SendAs::HPGL, 60, 40), 200, 0.15, 100, {P::Scale, P::Square}},
        {"a label of 40 x 30 mm", Sheet(SendAs::HPGL, 40, 30), 200, 0.1, 80, {P::Scale, P::Square}},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        TCalibrateModel model({"Cutter", {}, {}}, row.Settings);
        CHECK(model.Value(F::Length) == row.Length);
        CHECK(model.Value(F::OffsetTo) == row.OffsetTo);
        // The lines are measured against the length cut.
        CHECK(model.Value(F::MeasuredX) == row.Length);
        if (row.ForceTo > 0)
            CHECK(model.Value(F::ForceTo) == row.ForceTo);
        for (const P pattern : {P::Scale, P::Ladder, P::TestCut, P::Square, P::Grid}) {
            CAPTURE(PatternWord(pattern));
            model.Choose(pattern);
            if (pattern == P::Grid && row.ForceTo == 0)
                continue;
            if (std::find(row.NotMade.begin(), row.NotMade.end(), pattern) == row.NotMade.end())
                CHECK_NOTHROW(model.CutToSend());
            else
                CHECK_THROWS_AS(model.CutToSend(), EConvertError);
        }
    }
}

TEST_CASE("a measurement gives its correction, old and new")
{
    struct Row {
        const char* Name;
        CalibrationPattern Pattern;
        SendAs Language;
        std::vector<std::pair<F, const char*>> Typed;
        const char* Change;
        bool CanKeep;
    };
    const Row rows[] = {
        {"scale",
         CalibrationPattern::Scale,
         SendAs::HPGL,
         {{F::MeasuredX, "199"}},
         "Scale x: 99.50 % \xe2\x86\x92 100.00 %, y: 100.00 % \xe2\x86\x92 100.00 %",
         true},
        {"scale, half off",
         CalibrationPattern::Scale,
         SendAs::HPGL,
         {{F::MeasuredY, "90"}},
         "A measured length of 90 mm is more than 50 % off the line's 200 mm",
         false},
        {"ladder",
         CalibrationPattern::Ladder,
         SendAs::HPGL,
         {{F::Best, "3"}},
         "Blade offset: off \xe2\x86\x92 0.10 mm",
         true},
        {"ladder through a driver",
         CalibrationPattern::Ladder,
         SendAs::Driver,
         {{F::Best, "3"}},
         "Blade offset: off \xe2\x86\x92 0.10 mm",
         false},
        {"past the ladder's last square",
         CalibrationPattern::Ladder,
         SendAs::HPGL,
         {{F::Best, "12"}},
         "Best square: enter a whole number from 1 to 11",
         false},
        {"grid",
         CalibrationPattern::Grid,
         SendAs::HPGL,
         {{F::Best, "5"}},
         "Force: 50 \xe2\x86\x92 100, speed: 10 \xe2\x86\x92 30",
         true},
        {"grid in CAMM-GL",
         CalibrationPattern::Grid,
         SendAs::CAMMGL,
         {{F::Best, "1"}},
         "The grid sets the cutter's force and speed, and CAMM-GL has no command for either; choose another cutter "
         "language for this device",
         false},
        {"square",
         CalibrationPattern::Square,
         SendAs::HPGL,
         {{F::DiagonalA, "249.8"}, {F::DiagonalB, "250.2"}},
         "; skew: 0.000\xc2\xb0 \xe2\x86\x92 0.101\xc2\xb0",
         true},
        {"no parallelogram", CalibrationPattern::Square, SendAs::HPGL, {{F::DiagonalA, "400"}}, "", false},
        {"test cut",
         CalibrationPattern::TestCut,
         SendAs::HPGL,
         {},
         "Nothing to measure: this cut checks the corrections as kept.",
         false},
        {"sample",
         CalibrationPattern::Sample,
         SendAs::HPGL,
         {},
         "Nothing to measure: this cut checks the corrections as kept.",
         false},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        DeviceSettings settings = Sheet(row.Language);
        settings.Corrections.ScaleXPercent = 99.5;
        TCalibrateModel model = Model(row.Pattern, settings);
        for (const auto& [field, text] : row.Typed)
            model.SetText(field, text);
        const CalibrateChange change = model.Change();
        CHECK_MESSAGE(change.Text.find(row.Change) != std::string::npos, change.Text);
        CHECK(change.CanKeep == row.CanKeep);
    }
}

TEST_CASE("keeping makes the correction the device's, and the next measurement starts from it")
{
    DeviceSettings settings = Sheet(SendAs::HPGL);
    settings.Corrections.ScaleXPercent = 99.5;
    TCalibrateModel model({"Cutter", {}, {}}, settings);
    model.SetText(F::Length, "180");
    model.SetText(F::MeasuredX, "179");
    REQUIRE(model.Change().CanKeep);
    CHECK(model.Keep());
    CHECK(model.Settings().Corrections.ScaleXPercent == 100.06);
    CHECK(model.Change().Text.find("100.06 % \xe2\x86\x92 100.06 %") != std::string::npos);
    CHECK(model.Text(F::MeasuredX) == "180");
    DeviceIdentity identity;
    DeviceSettings current;
    REQUIRE(Printer().KnownPrinter(identity, current));
    CHECK(identity.Device == "Cutter");
    CHECK(current.Corrections.ScaleXPercent == 100.06);
    CHECK(RememberedSettings("Cutter", {}).value().Corrections.ScaleXPercent == 100.06);

    // The square's fields go back to its size on this sheet.
    model.Choose(CalibrationPattern::Square);
    model.SetText(F::DiagonalA, "241.8");
    model.SetText(F::DiagonalB, "242.3");
    CHECK(model.Keep());
    CHECK(model.Settings().Corrections.SkewDeg != 0);
    CHECK(model.Text(F::DiagonalA) == "242.07"); // 190 x 150 mm on A4
    CHECK(model.Text(F::SideX) == "190");

    // Nothing to keep: nothing changes.
    model.Choose(CalibrationPattern::TestCut);
    const DeviceSettings before = model.Settings();
    CHECK_FALSE(model.Keep());
    CHECK(model.Settings() == before);
    // Out of range: refused, nothing changes.
    model.Choose(CalibrationPattern::Ladder);
    model.SetText(F::Best, "1");
    model.Choose(CalibrationPattern::Grid);
    model.SetText(F::ForceFrom, "400");
    model.SetText(F::ForceTo, "420");
    model.SetText(F::ForceStep, "10");
    CHECK_FALSE(model.Change().CanKeep);
    CHECK_FALSE(model.Keep());
    CHECK(model.Settings() == before);
}

TEST_CASE("the picture is the pattern's plot, upright, whole in its box")
{
    const struct {
        double Width, Height;
    } boxes[] = {{280, 260}, {420, 120}, {90, 300}};
    for (const CalibratePatternChoice& choice : CalibratePatterns())
        for (const auto& box : boxes) {
            CAPTURE(choice.Caption);
            CAPTURE(box.Width);
            TCalibrateModel model({"Cutter", {}, {}}, Sheet(SendAs::HPGL));
            model.Choose(choice.Pattern);
            const CalibrationPicture picture = model.Picture(box.Width, box.Height, 12);
            const TPLT plot = PlotOf(model.Cut(), model.Settings());
            REQUIRE_FALSE(picture.Empty());
            // The cut's lines, each as the plot has it, y turned down.
            std::vector<const PicturePath*> cuts;
            for (const PicturePath& path : picture.Paths)
                if (path.Ink == PictureInk::Cut)
                    cuts.push_back(&path);
            REQUIRE(cuts.size() == static_cast<size_t>(plot.NPolygons()));
            for (size_t i = 0; i < cuts.size(); ++i) {
                const TPolygonView polygon = plot.Polygon(static_cast<std::int32_t>(i));
                REQUIRE(cuts[i]->Points.size() == polygon.Points.size());
                for (size_t k = 0; k < polygon.Points.size(); ++k)
                    CHECK(Near(cuts[i]->Points[k], picture.At(polygon.Points[k])));
            }
            const TRect b = plot.Bound();
            CHECK(picture.At({b.Left, b.Top}).Y < picture.At({b.Left, b.Bottom}).Y);
            CHECK(picture.At({b.Left, b.Top}).X < picture.At({b.Right, b.Top}).X);
            // As large as the box takes, one way or the other.
            const double w = (b.Right - b.Left) * picture.Scale, h = (b.Top - b.Bottom) * picture.Scale;
            CHECK((std::abs(w - (box.Width - 48)) < 1e-6 || std::abs(h - (box.Height - 48)) < 1e-6));
            for (const PicturePath& path : picture.Paths)
                for (const PicturePoint& p : path.Points) {
                    CHECK(p.X >= 0);
                    CHECK(p.X <= box.Width);
                    CHECK(p.Y >= 0);
                    CHECK(p.Y <= box.Height);
                }
            for (const PictureText& text : picture.Texts) {
                CHECK(text.Centre.Y - text.Height / 2 >= 0);
                CHECK(text.Centre.Y + text.Height / 2 <= box.Height);
                CHECK(text.Centre.X - text.Height / 2 >= 0);
                CHECK(text.Centre.X + text.Height / 2 <= box.Width);
            }
        }
}

TEST_CASE("the picture marks the lengths the dialog asks for, where the cut has them")
{
    SUBCASE("scale: X between the x line's ticks, below it; Y between the y line's, left of it")
    {
        for (const double length : {50.0, 120.0, 200.0}) {
            CAPTURE(length);
            TCalibrateModel model = Model(CalibrationPattern::Scale);
            model.SetValue(F::Length, length);
            const CalibrationPicture picture = model.Picture(280, 260, 12);
            const PicturePath* x = Measuring(picture, "X");
            const PicturePath* y = Measuring(picture, "Y");
            REQUIRE(x);
            REQUIRE(y);
            // The x line runs from x 6 mm at y 3 mm, the y line from y 8 mm
            // at x 3 mm, each with its ticks across its ends.
            const auto units = static_cast<std::int32_t>(std::lround(length * 100));
            CHECK(x->Points.front().X == doctest::Approx(picture.At({600, 0}).X));
            CHECK(x->Points.back().X == doctest::Approx(picture.At({600 + units, 0}).X));
            CHECK(x->Points.front().Y > picture.At({600, 0}).Y);
            CHECK(y->Points.front().Y == doctest::Approx(picture.At({0, 800}).Y));
            CHECK(y->Points.back().Y == doctest::Approx(picture.At({0, 800 + units}).Y));
            CHECK(y->Points.front().X < picture.At({0, 800}).X);
            CHECK(Label(picture, "X")->Centre.Y > x->Points.front().Y);
            CHECK(Label(picture, "Y")->Centre.X < y->Points.front().X);
        }
    }
    SUBCASE("square: A from the lower left corner, ringed, B between the other two; the sides below and left")
    {
        for (const DeviceSettings& settings : {Sheet(SendAs::HPGL), Sheet(SendAs::Driver, 120, 600)}) {
            const TCalibrateModel model = Model(CalibrationPattern::Square, settings);
            const auto [width, height] = SquarePatternSizeMm(settings);
            const CalibrationPicture picture = model.Picture(280, 260, 12);
            // The rectangle's corners: 10 mm in from the plot's origin.
            const auto w = static_cast<std::int32_t>(width * 100), h = static_cast<std::int32_t>(height * 100);
            const PicturePoint ll = picture.At({1000, 1000}), lr = picture.At({1000 + w, 1000}),
                               ur = picture.At({1000 + w, 1000 + h}), ul = picture.At({1000, 1000 + h});
            const PicturePath* a = Measuring(picture, "A");
            const PicturePath* b = Measuring(picture, "B");
            REQUIRE(a);
            REQUIRE(b);
            CHECK(Near(a->Points.front(), ll));
            CHECK(Near(a->Points.back(), ur));
            CHECK(Near(b->Points.front(), lr));
            CHECK(Near(b->Points.back(), ul));
            // A's corner has a ring about it, and the label A is nearer it
            // than any other corner.
            bool ringed = false;
            for (const PicturePath& path : picture.Paths)
                if (path.Ink == PictureInk::Mark && path.Points.size() > 8) {
                    double most = 0, least = 1e9;
                    for (const PicturePoint& p : path.Points) {
                        most = std::max(most, std::hypot(p.X - ll.X, p.Y - ll.Y));
                        least = std::min(least, std::hypot(p.X - ll.X, p.Y - ll.Y));
                    }
                    ringed = ringed || (most < 12 && least > 2);
                }
            CHECK(ringed);
            for (const auto& [label, corner] : {std::pair{"A", ll}, std::pair{"B", lr}}) {
                const PicturePoint c = Label(picture, label)->Centre;
                const auto d = [&c](PicturePoint p) { return std::hypot(c.X - p.X, c.Y - p.Y); };
                for (const PicturePoint other : {ll, lr, ur, ul})
                    CHECK(d(corner) <= d(other));
            }
            const PicturePath* x = Measuring(picture, "x");
            const PicturePath* y = Measuring(picture, "y");
            REQUIRE(x);
            REQUIRE(y);
            CHECK(x->Points.front().X == doctest::Approx(ll.X));
            CHECK(x->Points.back().X == doctest::Approx(lr.X));
            CHECK(x->Points.front().Y > ll.Y);
            CHECK(y->Points.front().Y == doctest::Approx(ll.Y));
            CHECK(y->Points.back().Y == doctest::Approx(ul.Y));
            CHECK(y->Points.front().X < ll.X);
        }
    }
    SUBCASE("ladder and grid: the first cells numbered under their ticks, as the dialog counts them")
    {
        // The ladder: 1 to 6 left to right. The grid of 3 x 3: left to right,
        // row after row from the top.
        struct Row {
            CalibrationPattern Pattern;
            int Columns, Rows;
        };
        for (const Row row : {Row{CalibrationPattern::Ladder, 11, 1}, Row{CalibrationPattern::Grid, 3, 3}}) {
            const TCalibrateModel model = Model(row.Pattern);
            const CalibrationPicture picture = model.Picture(280, 260, 12);
            CHECK(picture.Texts.size() == 6);
            for (int n = 1; n <= 6; ++n) {
                CAPTURE(n);
                const PictureText* label = Label(picture, std::to_string(n));
                REQUIRE(label);
                const int column = (n - 1) % row.Columns, fromTop = (n - 1) / row.Columns;
                // A cell's square: 10 mm, 6 mm above its ticks; cells 15 mm
                // apart, rows 20 mm.
                const std::int32_t left = column * 1500, base = (row.Rows - 1 - fromTop) * 2000;
                CHECK(label->Centre.X > picture.At({left, 0}).X);
                CHECK(label->Centre.X < picture.At({left + 1000, 0}).X);
                CHECK(label->Centre.Y - label->Height / 2 > picture.At({0, base}).Y);
                if (fromTop + 1 < row.Rows) // clear of the next row's squares
                    CHECK(label->Centre.Y + label->Height / 2 < picture.At({0, base - 400}).Y);
            }
        }
    }
}
