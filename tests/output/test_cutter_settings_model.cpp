// Print Setup's and Cutter Settings' decisions, as both dialogs and the
// command line take them: no toolkit, the same program on Linux and under
// Wine.

#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "output/CutterSettingsModel.h"
#include "platform/DeviceCapabilities.h"

#include <doctest/doctest.h>

#include <cmath>
#include <optional>
#include <string>
#include <tuple>

namespace {

constexpr SendAs Languages[] = {SendAs::Driver, SendAs::HPGL, SendAs::DMPL, SendAs::GPGL, SendAs::CAMMGL};

DeviceSettings Paper(const char* name, double w, double h, double margin, SendAs language)
{
    DeviceSettings s = CutterSheet(name, w, h);
    s.MarginLeftMm = s.MarginBottomMm = s.MarginRightMm = s.MarginTopMm = margin;
    s.Language = language;
    return s;
}

} // namespace

TEST_CASE("each language and kind of device offers its own controls")
{
    // Force and speed where the language has a command for them (CAMM-GL has
    // neither); the serial line for a serial port only.
    struct Row {
        DeviceKind Kind;
        SendAs Language;
        bool Offered;
        CutterControls Controls;
    };
    const CutterControls driver{}, camm{true, true, true, false, false, false},
        tools{true, true, true, true, true, false};
    CutterControls lineCamm = camm, lineTools = tools;
    lineCamm.SerialLine = lineTools.SerialLine = true;
    for (const Row& row : {
             Row{DeviceKind::Queue, SendAs::Driver, true, driver},
             Row{DeviceKind::Queue, SendAs::HPGL, true, tools},
             Row{DeviceKind::Queue, SendAs::DMPL, true, tools},
             Row{DeviceKind::Queue, SendAs::GPGL, true, tools},
             Row{DeviceKind::Queue, SendAs::CAMMGL, true, camm},
             Row{DeviceKind::SerialPort, SendAs::Driver, false, CutterControls{.SerialLine = true}},
             Row{DeviceKind::SerialPort, SendAs::HPGL, true, lineTools},
             Row{DeviceKind::SerialPort, SendAs::GPGL, true, lineTools},
             Row{DeviceKind::SerialPort, SendAs::CAMMGL, true, lineCamm},
             Row{DeviceKind::PrinterPort, SendAs::Driver, false, driver},
             Row{DeviceKind::PrinterPort, SendAs::DMPL, true, tools},
             Row{DeviceKind::PrinterPort, SendAs::CAMMGL, true, camm},
         }) {
        CAPTURE(int(row.Kind));
        CAPTURE(LanguageName(row.Language));
        CHECK(OffersLanguage(row.Kind, row.Language) == row.Offered);
        const CutterControls c = OfferedControls(row.Kind, row.Language);
        CHECK(c.SheetSize == row.Controls.SheetSize);
        CHECK(c.Axes == row.Controls.Axes);
        CHECK(c.PathCorrections == row.Controls.PathCorrections);
        CHECK(c.Force == row.Controls.Force);
        CHECK(c.Speed == row.Controls.Speed);
        CHECK(c.SerialLine == row.Controls.SerialLine);
        // The fields' ranges agree with what is offered: 0 (off) alone where
        // there is no command.
        CHECK((LimitsOf(CutterField::Force, row.Language).High > 0) == c.Force);
        CHECK((LimitsOf(CutterField::Speed, row.Language).High > 0) == c.Speed);
    }

    // What each system's device names are: a port's line is set only where
    // the name is one of its serial ports.
    const std::pair<const char*, DeviceKind> names[] = {
        {"Cutter", DeviceKind::Queue},
#ifdef _WIN32
        {"COM1", DeviceKind::SerialPort}, {"com12", DeviceKind::SerialPort}, {"\\\\.\\COM3", DeviceKind::SerialPort},
        {"COM1:", DeviceKind::Queue},     {"LPT1", DeviceKind::Queue},
#else
        {"/dev/ttyUSB0", DeviceKind::SerialPort},
        {"/dev/usb/lp0", DeviceKind::PrinterPort},
        {"COM1", DeviceKind::Queue},
#endif
    };
    for (const auto& [name, kind] : names) {
        const std::string device = name;
        CAPTURE(device);
        CHECK(DeviceKindOf(device) == kind);
    }
}

TEST_CASE("the fields' limits and the notes follow the language")
{
    struct Row {
        CutterField Field;
        SendAs Language;
        FieldLimits Limits;
    };
    for (const Row& row : {
             Row{CutterField::Force, SendAs::HPGL, {0, 400, 0}},
             Row{CutterField::Speed, SendAs::HPGL, {0, 96, 0}},
             Row{CutterField::Force, SendAs::DMPL, {0, 400, 0}},
             Row{CutterField::Speed, SendAs::DMPL, {0, 99, 0}},
             Row{CutterField::Force, SendAs::GPGL, {0, 31, 0}},
             Row{CutterField::Speed, SendAs::GPGL, {0, 10, 0}},
             Row{CutterField::Force, SendAs::CAMMGL, {0, 0, 0}},
             Row{CutterField::Speed, SendAs::Driver, {0, 0, 0}},
         }) {
        CAPTURE(FieldName(row.Field));
        CAPTURE(LanguageName(row.Language));
        CHECK(LimitsOf(row.Field, row.Language) == row.Limits);
    }
    struct Note {
        SendAs Language;
        std::string Tools;
        bool Corrections;
    };
    for (const Note& row : {
             Note{SendAs::Driver, "Force and speed are the driver's.", false},
             Note{SendAs::CAMMGL, "CAMM-GL has no command for force or speed: nothing is sent; set them on the cutter.",
                  true},
         }) {
        CHECK(ToolNote(row.Language) == row.Tools);
        CHECK(CorrectionsNote(row.Language).starts_with(row.Corrections ? "0 is off" : "Through the printer driver"));
    }
}

TEST_CASE("a change of language takes its sheet")
{
    const DeviceSettings a4 = Paper("A4", 210, 297, 5, SendAs::Driver);
    const DeviceSettings letter = Paper("Letter", 215.9, 279.4, 6, SendAs::Driver);
    const DriverPapers papers{{a4, letter}, a4};
    struct Row {
        std::string Name;
        DeviceSettings Before;
        SendAs To;
        bool WithPapers;
        std::string Paper;
        double Width;
        double Margin;
    };
    for (const Row& row : {
             // A cutter draws on the whole sheet: A4 unless the paper was Letter.
             Row{"driver A4 to HPGL", a4, SendAs::HPGL, true, "A4", 210, 0},
             Row{"driver Letter to GP-GL", letter, SendAs::GPGL, true, "Letter", 215.9, 0},
             Row{"driver A3 to DMPL", Paper("A3", 297, 420, 4, SendAs::Driver), SendAs::DMPL, true, "A4", 210, 0},
             // Between cutter languages the sheet stays, a roll too.
             Row{"roll from HPGL to CAMM-GL", Paper("Custom.600x1000mm", 600, 1000, 0, SendAs::HPGL), SendAs::CAMMGL,
                 true, "Custom.600x1000mm", 600, 0},
             // Back to the driver: its own paper of that size, else its default.
             Row{"Letter from DMPL to the driver", Paper("Letter", 215.9, 279.4, 0, SendAs::DMPL), SendAs::Driver, true,
                 "Letter", 215.9, 6},
             Row{"roll from HPGL to the driver", Paper("Custom.600x1000mm", 600, 1000, 0, SendAs::HPGL), SendAs::Driver,
                 true, "A4", 210, 5},
             // The paper chosen elsewhere (the system's dialog, --sheet).
             Row{"to the driver, paper chosen elsewhere", Paper("Letter", 215.9, 279.4, 0, SendAs::HPGL),
                 SendAs::Driver, false, "Letter", 215.9, 0},
             Row{"same language", Paper("A4", 210, 297, 3, SendAs::Driver), SendAs::Driver, true, "A4", 210, 3},
         }) {
        CAPTURE(row.Name);
        DeviceSettings s = row.Before;
        s.Rotate90 = true;
        int asked = 0;
        ChangeLanguage(s, row.To,
                       row.WithPapers ? std::function<DriverPapers()>([&] {
                           ++asked;
                           return papers;
                       })
                                      : std::function<DriverPapers()>());
        CHECK(s.Language == row.To);
        CHECK(s.PaperName == row.Paper);
        CHECK(s.PaperWidthMm == row.Width);
        CHECK(s.MarginLeftMm == row.Margin);
        CHECK(s.MarginTopMm == row.Margin);
        CHECK(s.Rotate90);
        // The print server is asked only for a way back to the driver.
        CHECK(asked == int(row.WithPapers && row.To == SendAs::Driver && row.Before.Language != SendAs::Driver));
    }
}

TEST_CASE("Cutter Settings opens a device on what was set for it, else what was kept, else its own")
{
    const DeviceSettings own = Paper("A4", 210, 297, 5, SendAs::Driver);
    DeviceSettings sheetless;
    sheetless.Language = SendAs::GPGL;
    sheetless.Corrections.ScaleXPercent = 99;
    struct Row {
        std::string Name;
        std::optional<DeviceSettings> Chosen, Remembered;
        std::string Paper;
        SendAs Language;
        double Margin;
        bool Asked; // the device's own settings were needed
    };
    for (const Row& row : {
             // Not empty fields that OK refuses: the printer's own paper.
             Row{"a printer picked for the first time", std::nullopt, std::nullopt, "A4", SendAs::Driver, 5, true},
             Row{"a printer confirmed in an earlier run", std::nullopt, Paper("Letter", 215.9, 279.4, 0, SendAs::HPGL),
                 "Letter", SendAs::HPGL, 0, true},
             Row{"the printer in use, or set in this dialog", Paper("Custom.600x1000mm", 600, 1000, 0, SendAs::DMPL),
                 Paper("Letter", 215.9, 279.4, 0, SendAs::HPGL), "Custom.600x1000mm", SendAs::DMPL, 0, false},
             // Whatever else was set stays; the sheet is the printer's.
             Row{"settings that hold no sheet", sheetless, std::nullopt, "A4", SendAs::GPGL, 5, true},
         }) {
        CAPTURE(row.Name);
        int asked = 0;
        const DeviceSettings s = SettingsToShow(row.Chosen, [&] {
            ++asked;
            return KnownSettings{row.Remembered, own};
        });
        CHECK(s.PaperName == row.Paper);
        CHECK(s.PaperWidthMm > 0);
        CHECK(s.PaperHeightMm > 0);
        CHECK(s.Language == row.Language);
        CHECK(s.MarginLeftMm == row.Margin);
        CHECK(asked == int(row.Asked));
        if (row.Chosen)
            CHECK(s.Corrections.ScaleXPercent == row.Chosen->Corrections.ScaleXPercent);
    }
}

TEST_CASE("a printer whose driver passes bytes through starts in a cutter language, on the whole sheet")
{
    struct Row {
        const char* Driver;
        bool PassesThrough;
    };
    for (const Row& row : {
             Row{"Local Raw Printer", true},   // a raw CUPS queue
             Row{"Generic / Text Only", true}, // Windows' own
             Row{"generic / text only", true},
             Row{"Generic / Text Only (v4)", false},
             Row{"HP LaserJet 4", false},
             // Wine names a CUPS queue's driver after the queue, raw or not.
             Row{"RawCutter", false},
             Row{"", false},
         }) {
        CAPTURE(row.Driver);
        CHECK(PassThroughDriver(row.Driver) == row.PassesThrough);
    }
    DeviceSettings own = Paper("Letter", 215.9, 279.4, 6, SendAs::Driver);
    TakeCutterLanguageDefaults(own);
    const DeviceSettings shown = SettingsToShow(std::nullopt, [&] { return KnownSettings{std::nullopt, own}; });
    CHECK(shown.Language == SendAs::HPGL);
    CHECK(shown.PaperName == "Letter");
    for (const double margin : {shown.MarginLeftMm, shown.MarginBottomMm, shown.MarginRightMm, shown.MarginTopMm})
        CHECK(margin == 0);
}

TEST_CASE("force and speed go over to another language only on the same scale")
{
    struct Row {
        SendAs From, To;
        ToolSetting Before, After;
        std::string Notice;
    };
    for (const Row& row : {
             Row{SendAs::HPGL, SendAs::HPGL, {300, 50}, {300, 50}, ""},
             // Grams both: the force stays; cm/s are not DMPL's levels.
             Row{SendAs::HPGL, SendAs::DMPL, {80, 30}, {80, 0}, "DMPL counts the speed in other units than HPGL"},
             Row{SendAs::DMPL, SendAs::HPGL, {400, 99}, {400, 0}, "HPGL counts the speed in other units than DMPL"},
             // In range in the other language, still another scale.
             Row{SendAs::GPGL,
                 SendAs::HPGL,
                 {20, 5},
                 {0, 0},
                 "HPGL counts the force and the speed in other units than GP-GL"},
             Row{SendAs::HPGL, SendAs::GPGL, {300, 0}, {0, 0}, "GP-GL counts the force in other units than HPGL"},
             Row{SendAs::DMPL, SendAs::GPGL, {0, 5}, {0, 0}, "GP-GL counts the speed in other units than DMPL"},
             // No command: nothing is sent, which the job's own notice tells.
             Row{SendAs::HPGL, SendAs::CAMMGL, {80, 30}, {0, 0}, ""},
             Row{SendAs::GPGL, SendAs::Driver, {10, 5}, {0, 0}, ""},
             Row{SendAs::CAMMGL, SendAs::HPGL, {80, 0}, {0, 0}, "HPGL counts the force in other units than CAMM-GL"},
             Row{SendAs::HPGL, SendAs::DMPL, {0, 0}, {0, 0}, ""},
         }) {
        CAPTURE(LanguageName(row.From));
        CAPTURE(LanguageName(row.To));
        CHECK(ToolsInLanguage(row.From, row.To, row.Before) == row.After);
        CHECK(OtherUnitsReason(row.From, row.To, row.Before) == row.Notice);
        // The dialogs' language change takes the same values, and whatever
        // the values, none is left out of the new language's range.
        DeviceSettings s = Paper("A4", 210, 297, 0, row.From);
        s.Corrections.Force = row.Before.Force;
        s.Corrections.Speed = row.Before.Speed;
        ChangeLanguage(s, row.To);
        CHECK(ToolSetting{s.Corrections.Force, s.Corrections.Speed} == row.After);
        CHECK(ToolSettingProblem(row.To, {s.Corrections.Force, s.Corrections.Speed}).empty());
    }
    // Every value each language takes, into every other.
    for (const SendAs from : Languages)
        for (const SendAs to : Languages)
            for (const double value : {1.0, 10.0, 31.0, 96.0, 99.0, 400.0}) {
                if (!ToolSettingProblem(from, {value, value}).empty())
                    continue;
                const ToolSetting taken = ToolsInLanguage(from, to, {value, value});
                CHECK(ToolSettingProblem(to, taken).empty());
            }
}

TEST_CASE("the serial line's lists keep a value they do not offer")
{
    const LineField fields[] = {LineField::Speed, LineField::DataBits, LineField::Parity, LineField::StopBits,
                                LineField::Flow};
    for (const LineField field : fields) {
        CAPTURE(int(field));
        for (int i = 0; i < static_cast<int>(LineOptions(field).size()); ++i) {
            PortSettings line;
            TakeLineOption(field, i, line);
            CHECK(LineOptionIndex(field, line) == i);
        }
    }
    CHECK(LineOptions(LineField::DataBits).size() == 4); // 5 to 8 bits
    const PortSettings rare{300, 8, 'N', 1, FlowControl::None};
    CHECK(LineOptionIndex(LineField::Speed, rare) == -1);
    PortSettings kept = rare;
    TakeLineOption(LineField::Speed, -1, kept);
    TakeLineOption(LineField::Speed, 99, kept);
    CHECK(kept == rare);
}

TEST_CASE("Cutter Settings' fields are read whole and within their limits")
{
    struct Number {
        std::string Text;
        FieldLimits Limits;
        std::optional<double> Value;
    };
    for (const Number& row : {
             Number{"100", {25, 400}, 100.0},
             Number{" 99.5 ", {25, 400}, 99.5},
             Number{"0", {0, 1.5}, 0.0},
             Number{"1.51", {0, 1.5}, std::nullopt},
             Number{"-0.1", {0, 5}, std::nullopt},
             Number{"", {0, 5}, std::nullopt},
             Number{"12mm", {10, 5000}, std::nullopt},
             Number{"1e999", {10, 50000}, std::nullopt},
             Number{"nan", {10, 50000}, std::nullopt},
             Number{"inf", {10, 50000}, std::nullopt},
         }) {
        CAPTURE(row.Text);
        CHECK(FieldNumber(row.Text, row.Limits) == row.Value);
    }

    // A driver's A4 with its margins, the fields as the dialog fills them.
    DeviceSettings before = Paper("A4", 210, 297, 5, SendAs::Driver);
    before.Corrections.Force = 300;
    const auto fields = [](SendAs language) {
        CutterFields f;
        f.Language = language;
        f.SheetWidth = "210";
        f.SheetLength = "297";
        f.ScaleX = f.ScaleY = "100";
        f.BladeOffset = f.Overcut = "0";
        f.Force = "300";
        f.Speed = "0";
        return f;
    };
    struct Row {
        std::string Name;
        SendAs Language;
        std::string CutterFields::*Field;
        const char* Text;
        std::string Message; // empty: read
        CutterField Wrong;
        FlowControl Flow = FlowControl::XonXoff;
    };
    for (const Row& row : {
             Row{"sheet too narrow", SendAs::HPGL, &CutterFields::SheetWidth, "5",
                 "Sheet width: enter a number from 10 to 5000.", CutterField::SheetWidth},
             Row{"sheet length empty", SendAs::HPGL, &CutterFields::SheetLength, "",
                 "Sheet length: enter a number from 10 to 50000.", CutterField::SheetLength},
             Row{"blade offset past its limit", SendAs::DMPL, &CutterFields::BladeOffset, "1.6",
                 "Blade offset: enter a number from 0 to 1.5.", CutterField::BladeOffset},
             Row{"overcut below 0", SendAs::HPGL, &CutterFields::Overcut, "-1", "Overcut: enter a number from 0 to 5.",
                 CutterField::Overcut},
             Row{"force past GP-GL's", SendAs::GPGL, &CutterFields::Force, "300",
                 "Knife force: enter a number from 0 to 31.", CutterField::Force},
             Row{"speed past HPGL's", SendAs::HPGL, &CutterFields::Speed, "97",
                 "Cutting speed: enter a number from 0 to 96.", CutterField::Speed},
             Row{"force not whole", SendAs::HPGL, &CutterFields::Force, "2.5",
                 "A force of 2.5 cannot be sent: HPGL takes 1 to 400 g (0 leaves the cutter's own).",
                 CutterField::Force},
             Row{"speed not whole", SendAs::DMPL, &CutterFields::Speed, "2.5",
                 "A speed of 2.5 cannot be sent: DMPL takes 1 to 99 levels (0 leaves the cutter's own).",
                 CutterField::Speed},
             Row{"scale below a quarter", SendAs::Driver, &CutterFields::ScaleY, "24",
                 "Scale y: enter a number from 25 to 400.", CutterField::ScaleY},
             // Not read where the language takes none.
             Row{"CAMM-GL: force not read", SendAs::CAMMGL, &CutterFields::Force, "junk", "", {}},
             Row{"driver: sheet not read", SendAs::Driver, &CutterFields::SheetWidth, "", "", {}},
             // Asking the cutter needs the language's free-space question.
             Row{"DMPL cutter asked", SendAs::DMPL, &CutterFields::Speed, "0",
                 "DMPL has no question for the free space in a cutter's buffer, so the cutter cannot be asked before "
                 "each block: choose XON/XOFF, RTS/CTS or none as the flow control.",
                 CutterField::Flow, FlowControl::Query},
             Row{"HPGL cutter asked", SendAs::HPGL, &CutterFields::Speed, "0", "", {}, FlowControl::Query},
             Row{"CAMM-GL cutter asked", SendAs::CAMMGL, &CutterFields::Speed, "0", "", {}, FlowControl::Query},
         }) {
        CAPTURE(row.Name);
        CutterFields f = fields(row.Language);
        if (row.Language == SendAs::GPGL)
            f.Force = "10";
        f.*row.Field = row.Text;
        f.Line.Flow = row.Flow;
        const CutterFieldsReading reading = ReadCutterFields(before, f);
        CHECK(reading.Message == row.Message);
        CHECK(reading.Settings.has_value() == row.Message.empty());
        if (!row.Message.empty())
            CHECK(reading.Wrong == row.Wrong);
    }

    SUBCASE("a cutter language: the whole sheet, no force without a command")
    {
        CutterFields f = fields(SendAs::HPGL);
        f.MirrorX = true;
        f.Line.Baud = 19200;
        DeviceSettings s = ReadCutterFields(before, f).Settings.value();
        CHECK(s.PaperName == "A4");
        CHECK(s.MarginLeftMm == 0);
        CHECK(s.MarginTopMm == 0);
        CHECK(s.MirrorX);
        CHECK(s.Corrections.Force == 300);
        CHECK(s.Line.Baud == 19200);
        f.SheetWidth = "600.004";
        f.SheetLength = "1000";
        s = ReadCutterFields(before, f).Settings.value();
        CHECK(s.PaperName == "Custom.600x1000mm");
        CHECK(s.PaperWidthMm == 600);
        f.Language = SendAs::CAMMGL;
        CHECK(ReadCutterFields(before, f).Settings.value().Corrections.Force == 0);
        f.Language = SendAs::Driver;
        s = ReadCutterFields(before, f).Settings.value();
        CHECK(s.Corrections.Force == 0);
        CHECK(s.MarginLeftMm == 5);
    }
}

TEST_CASE("a custom sheet is sized to the hundredth of a mm")
{
    for (const auto& [w, l, name] :
         {std::tuple(600.0, 1000.0, "Custom.600x1000mm"), std::tuple(600.554, 12500.5, "Custom.600.55x12500.5mm"),
          std::tuple(210.0, 297.0, "Custom.210x297mm")}) {
        const DeviceSettings s = CustomCutterSheet(w, l);
        CHECK(s.PaperName == name);
        CHECK(s.PaperWidthMm == std::round(w * 100) / 100);
        CHECK(s.MarginLeftMm == 0);
    }
}
