#include "cutter/CutterLanguage.h"

#include "common/Exceptions.h"
#include "common/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <tuple>
#include <utility>
#include <vector>

namespace {

// Bytes gathered before they go to the sink: few device writes, little memory.
constexpr size_t BufferSize = 64 * 1024;
// The longest single piece put: a signed 64-bit number.
constexpr size_t LongestPiece = 24;

} // namespace

std::int64_t ToPlotterUnits(double mm, double unitsPerMm) noexcept
{
    return std::llround(mm * unitsPerMm);
}

CutterEncoder::CutterEncoder(ByteSink& sink) : FSink(sink), FBuffer(new char[BufferSize])
{}

CutterEncoder::~CutterEncoder() = default;

void CutterEncoder::End()
{
    Close();
    Flush();
    // A file's own buffer hides a full disk until it is flushed.
    if (!FSink.Flush())
        Fail();
}

void CutterEncoder::SetTool(const ToolSetting& tool)
{
    const ToolRange force = ForceRange(Language()), speed = SpeedRange(Language());
    const bool sendForce = tool.Force > 0 && !force.Command.empty();
    const bool sendSpeed = tool.Speed > 0 && !speed.Command.empty();
    if (!sendForce && !sendSpeed)
        return;
    // Not while the knife stands in the material.
    Pause();
    for (const auto& [send, range, value] :
         {std::tuple(sendForce, force, tool.Force), std::tuple(sendSpeed, speed, tool.Speed)}) {
        if (!send)
            continue;
        Put(range.Command);
        PutNumber(std::llround(value));
        PutEnd();
    }
}

void CutterEncoder::Put(std::string_view text)
{
    if (FUsed + text.size() > BufferSize)
        Flush();
    std::memcpy(FBuffer.get() + FUsed, text.data(), text.size());
    FUsed += text.size();
}

void CutterEncoder::PutNumber(std::int64_t v)
{
    if (FUsed + LongestPiece > BufferSize)
        Flush();
    char* at = FBuffer.get() + FUsed;
    FUsed += static_cast<size_t>(std::to_chars(at, at + LongestPiece, v).ptr - at);
}

void CutterEncoder::PutPair(PlotterPoint p)
{
    PutNumber(p.X);
    Put(',');
    PutNumber(p.Y);
}

void CutterEncoder::Flush()
{
    if (!FFailure.empty())
        Fail();
    const char* data = FBuffer.get();
    auto left = static_cast<std::int64_t>(FUsed);
    while (left > 0) {
        const std::int64_t n = FSink.Write(data, left);
        if (n <= 0)
            Fail();
        data += n;
        left -= n;
    }
    FUsed = 0;
}

void CutterEncoder::Fail()
{
    if (FFailure.empty()) {
        FFailure = Format("Cannot write the cutter job: %1", TrimSystemText(FSink.ErrorText()));
        FUsed = 0;
    }
    throw EFileError(FFailure);
}

namespace {

// HP-GL as HP's pen plotters read it, the subset HP-GL/2 keeps unchanged:
// IN, SP, PU and PD with absolute coordinates, 40 plotter units per mm
// (1016 per inch), one instruction per line.
class HpglEncoder final : public CutterEncoder {
public:
    using CutterEncoder::CutterEncoder;
    double UnitsPerMm() const noexcept override { return 40.0; }
    SendAs Language() const noexcept override { return SendAs::HPGL; }
    void Begin() override { Put("IN;\nSP1;\n"); }
    void MoveTo(PlotterPoint p) override
    {
        EndCut();
        Put("PU");
        PutPair(p);
        Put(";\n");
    }
    void CutTo(PlotterPoint p) override
    {
        Put(FCutting ? "," : "PD");
        FCutting = true;
        PutPair(p);
    }

protected:
    void Close() override
    {
        EndCut();
        // Lift the tool where it stands, then put the pen away.
        Put("PU;\nSP0;\n");
    }
    void Pause() override
    {
        if (FCutting)
            Put(";\nPU;\n");
        FCutting = false;
    }
    void PutEnd() override { Put(";\n"); }

private:
    void EndCut()
    {
        if (FCutting)
            Put(";\n");
        FCutting = false;
    }
    bool FCutting = false;
};

// DM/PL as Houston Instrument defined it: ";:" enters the language, H homes,
// A selects absolute coordinates and EC1 units of 0.001 inch; U and D take
// coordinate pairs with the pen up or down; P0 puts the pen away and @ ends
// the plot.
class DmplEncoder final : public CutterEncoder {
public:
    using CutterEncoder::CutterEncoder;
    double UnitsPerMm() const noexcept override { return 1000.0 / 25.4; }
    SendAs Language() const noexcept override { return SendAs::DMPL; }
    void Begin() override { Put(";:H A EC1\n"); }
    void MoveTo(PlotterPoint p) override
    {
        EndCut();
        Put('U');
        PutPair(p);
        Put('\n');
    }
    void CutTo(PlotterPoint p) override
    {
        Put(FCutting ? ',' : 'D');
        FCutting = true;
        PutPair(p);
    }

protected:
    void Close() override
    {
        EndCut();
        Put("U\nP0\n@\n");
    }
    void Pause() override
    {
        if (FCutting)
            Put("\nU\n");
        FCutting = false;
    }
    void PutEnd() override { Put('\n'); }

private:
    void EndCut()
    {
        if (FCutting)
            Put('\n');
        FCutting = false;
    }
    bool FCutting = false;
};

// The one-letter languages that share H (home), M x,y (move with the tool
// up) and D x1,y1,... (cut through the points, tool left down until the next
// M): GP-GL as Graphtec documents it, 20 units per mm, each instruction ended
// by ETX; and CAMM-GL I mode 1 as Roland documents it for its CAMM-1
// cutters, 40 units per mm (0.025 mm steps), each instruction on its line.
class MoveCutEncoder final : public CutterEncoder {
public:
    MoveCutEncoder(ByteSink& sink, SendAs language, double unitsPerMm, char terminator)
        : CutterEncoder(sink), FLanguage(language), FUnitsPerMm(unitsPerMm), FTerminator(terminator)
    {}
    double UnitsPerMm() const noexcept override { return FUnitsPerMm; }
    SendAs Language() const noexcept override { return FLanguage; }
    void Begin() override
    {
        Put('H');
        Put(FTerminator);
    }
    void MoveTo(PlotterPoint p) override
    {
        EndCut();
        Put('M');
        PutPair(p);
        Put(FTerminator);
        FAt = p;
        FToolDown = false;
    }
    void CutTo(PlotterPoint p) override
    {
        Put(FCutting ? ',' : 'D');
        FCutting = true;
        PutPair(p);
        FAt = p;
        FToolDown = true;
    }

protected:
    void Close() override
    {
        EndCut();
        // No bare "tool up" here: a move to where the tool stands lifts it.
        if (FToolDown)
            MoveTo(FAt);
    }
    void Pause() override
    {
        EndCut();
        if (FToolDown)
            MoveTo(FAt);
    }
    void PutEnd() override { Put(FTerminator); }

private:
    void EndCut()
    {
        if (FCutting)
            Put(FTerminator);
        FCutting = false;
    }
    SendAs FLanguage;
    double FUnitsPerMm;
    char FTerminator;
    PlotterPoint FAt;
    bool FCutting = false;
    bool FToolDown = false;
};

} // namespace

std::unique_ptr<CutterEncoder> MakeCutterEncoder(SendAs language, ByteSink& sink)
{
    switch (language) {
    case SendAs::HPGL: return std::make_unique<HpglEncoder>(sink);
    case SendAs::DMPL: return std::make_unique<DmplEncoder>(sink);
    case SendAs::GPGL: return std::make_unique<MoveCutEncoder>(sink, SendAs::GPGL, 20.0, '\x03');
    case SendAs::CAMMGL: return std::make_unique<MoveCutEncoder>(sink, SendAs::CAMMGL, 40.0, '\n');
    case SendAs::Driver: break;
    }
    return nullptr;
}

namespace {

struct LanguageTools {
    SendAs Language;
    ToolRange Force;
    ToolRange Speed;
};

// Where each command is documented, and the range taken:
// - HP-GL VS, velocity in cm/s: HP 7470A Interfacing and Programming Manual,
//   "The Velocity Select Instruction, VS": 97 or more is an error; a plotter
//   takes its own fastest for anything above that. 1 to 96.
// - HP-GL FS, force: pen plotters take it in levels (Roland's DPX series: 1
//   to 16, for 20 to 125 g), the cutters that read HP-GL in levels or grams
//   by maker. 1 to 400, past any hobby or sign cutter's knife.
// - DM/PL V, velocity, and BP, blade pressure in grams, as Summa's DM/PL
//   cutters read them (DMP-40V manual, https://www.summa.be/download/dmp-40v.pdf).
//   V 1 to 99, BP 1 to 400.
// - GP-GL "!", speed: levels 1 to 10 in Graphtec's GP-GL command reference
//   (https://ohthehugemanatee.net/2011/07/gpgl-reference-courtesy-of-graphtec/).
//   That reference's force, 1 to 31, comes with an acceleration in its "*"
//   command, which would change what the user did not ask for: the force
//   goes as FX, as Graphtec's cutters and the Craft ROBO and Silhouette
//   dialect take it, 1 to 31.
// - CAMM-GL I mode 1: Roland's list of its instructions (the CAMM-GL III
//   list in its cutters' manuals, PNC-900: "mode1") has no command for
//   either, so nothing is sent.
constexpr LanguageTools ToolCommands[] = {
    {SendAs::HPGL, {"FS", 1, 400, "g"}, {"VS", 1, 96, "cm/s"}},
    {SendAs::DMPL, {"BP", 1, 400, "g"}, {"V", 1, 99, "levels"}},
    {SendAs::GPGL, {"FX", 1, 31, "levels"}, {"!", 1, 10, "levels"}},
};

const LanguageTools* ToolsOf(SendAs language)
{
    for (const LanguageTools& each : ToolCommands)
        if (each.Language == language)
            return &each;
    return nullptr;
}

} // namespace

ToolRange ForceRange(SendAs language)
{
    const LanguageTools* tools = ToolsOf(language);
    return tools ? tools->Force : ToolRange{};
}

ToolRange SpeedRange(SendAs language)
{
    const LanguageTools* tools = ToolsOf(language);
    return tools ? tools->Speed : ToolRange{};
}

std::string_view LanguageName(SendAs language)
{
    switch (language) {
    case SendAs::HPGL: return "HPGL";
    case SendAs::DMPL: return "DMPL";
    case SendAs::GPGL: return "GP-GL";
    case SendAs::CAMMGL: return "CAMM-GL";
    case SendAs::Driver: break;
    }
    return "the printer driver";
}

std::string LeftOutCorrectionsNotice(SendAs language, const CutterCorrections& c)
{
    if (language == SendAs::HPGL || language == SendAs::DMPL || language == SendAs::GPGL)
        return {};
    std::vector<std::string> left;
    const bool driver = language == SendAs::Driver;
    for (const auto& [set, what] :
         {std::pair(driver && c.BladeOffsetMm > 0, "the blade offset"),
          std::pair(driver && c.OvercutMm > 0, "the overcut"), std::pair(driver && c.SkewDeg != 0, "the skew"),
          std::pair(driver && c.Order != CutOrderMode::Drawn, "the optimised order"),
          std::pair(driver && c.WeedBoxMm > 0, "the weed box"), std::pair(c.Force > 0, "the force"),
          std::pair(c.Speed > 0, "the speed")})
        if (set)
            left.emplace_back(what);
    if (left.empty())
        return {};
    const bool many = left.size() > 1;
    std::string list = left.back();
    if (many) {
        left.pop_back();
        list = Join(left, ", ") + " and " + list;
    }
    std::string who(LanguageName(language));
    who[0] = AsciiUpper(who.substr(0, 1))[0];
    return Format("%1 cannot take %2: %3 left out", who, list, many ? "they are" : "it is");
}

std::string ToolSettingProblem(SendAs language, const ToolSetting& tool)
{
    const auto check = [language](const char* what, const ToolRange& range, double v) -> std::string {
        if (v == 0 || range.Command.empty())
            return {};
        if (std::isfinite(v) && v == std::round(v) && v >= range.Low && v <= range.High)
            return {};
        return Format("A %1 of %2 cannot be sent: %3 takes %4 to %5 %6 (0 leaves the cutter's own)", what, v,
                      LanguageName(language), range.Low, range.High, range.Unit);
    };
    std::string problem = check("force", ForceRange(language), tool.Force);
    return problem.empty() ? check("speed", SpeedRange(language), tool.Speed) : problem;
}

namespace {

// The syntax the encoders above write: what ends an instruction, the line
// break HP-GL puts after it, what begins a cut, and how a job is closed.
struct JobSyntax {
    char Terminator;
    bool LineBreak;
    std::string_view Cut;
    std::string_view Lift; // empty: a move to where the tool stands lifts it
};

JobSyntax SyntaxOf(SendAs language)
{
    switch (language) {
    case SendAs::HPGL: return {';', true, "PD", "PU;\nSP0;\n"};
    case SendAs::DMPL: return {'\n', false, "D", "U\nP0\n@\n"};
    case SendAs::GPGL: return {'\x03', false, "D", {}};
    case SendAs::CAMMGL: return {'\n', false, "D", {}};
    case SendAs::Driver: break;
    }
    return {};
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The text "x,y" of the last coordinate pair in job before end; empty when
// there is none (only the opening instructions went).
std::string LastPair(std::string_view job, std::ptrdiff_t end)
{
    const auto at = [&](std::ptrdiff_t i) { return job[static_cast<std::size_t>(i)]; };
    std::ptrdiff_t p = end;
    while (p > 0 && !IsDigit(at(p - 1)))
        --p;
    const std::ptrdiff_t last = p;
    for (int number = 0; number < 2; ++number) {
        if (p == 0 || !IsDigit(at(p - 1)))
            return {};
        while (p > 0 && IsDigit(at(p - 1)))
            --p;
        if (p > 0 && at(p - 1) == '-')
            --p;
        if (number == 0) {
            if (p == 0 || at(p - 1) != ',')
                return {};
            --p;
        }
    }
    return std::string(job.substr(static_cast<std::size_t>(p), static_cast<std::size_t>(last - p)));
}

} // namespace

CutterJobEnding StoppedJobEnding(SendAs language, std::string_view job, std::ptrdiff_t sent)
{
    const auto size = static_cast<std::ptrdiff_t>(job.size());
    if (language == SendAs::Driver || sent <= 0 || sent >= size)
        return {};
    const auto byte = [&](std::ptrdiff_t i) { return job[static_cast<std::size_t>(i)]; };
    const JobSyntax syntax = SyntaxOf(language);
    const auto terminated = [&](std::ptrdiff_t at) {
        // Through the terminator at `at` and the line break after it.
        return at + 1 + (syntax.LineBreak && at + 1 < size && byte(at + 1) == '\n' ? 1 : 0);
    };
    const std::size_t before = job.rfind(syntax.Terminator, static_cast<std::size_t>(sent - 1));
    std::ptrdiff_t start = before == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(before) + 1;
    while (start < sent && byte(start) == '\n')
        ++start;
    std::ptrdiff_t end = sent;
    std::string close;
    const std::string_view cut = syntax.Cut;
    if (start < sent && job.substr(static_cast<std::size_t>(start)).starts_with(cut)) {
        // A cut: its points go in pairs, and the first pair that ends at or
        // after `sent` is where the tool may stop.
        std::ptrdiff_t p = start + static_cast<std::ptrdiff_t>(cut.size());
        for (int numbers = 1; p < size; ++numbers, ++p) {
            if (byte(p) == '-')
                ++p;
            while (p < size && IsDigit(byte(p)))
                ++p;
            if (p >= size || byte(p) != ',' || (numbers % 2 == 0 && p >= sent))
                break;
        }
        if (p < size && byte(p) == syntax.Terminator) {
            end = terminated(p);
        } else {
            end = p;
            close += syntax.Terminator;
            if (syntax.LineBreak)
                close += '\n';
        }
    } else if (start < sent) {
        // Anything else is short: it goes whole.
        const std::size_t at = job.find(syntax.Terminator, static_cast<std::size_t>(sent));
        end = at == std::string_view::npos ? size : terminated(static_cast<std::ptrdiff_t>(at));
    } else if (byte(sent - 1) == syntax.Terminator) {
        // Between an instruction and its line break: the break goes too.
        end = terminated(sent - 1);
    }
    if (end >= size) {
        // The rest is the job's own ending: it closes itself.
        return {size - sent, {}};
    }
    if (!syntax.Lift.empty()) {
        close += syntax.Lift;
    } else if (const std::string at = LastPair(job, end); !at.empty()) {
        close += 'M' + at + syntax.Terminator;
    }
    return {end - sent, close};
}

std::ptrdiff_t BlockBytes(SendAs language, std::string_view text, std::ptrdiff_t at, std::ptrdiff_t room)
{
    const auto size = static_cast<std::ptrdiff_t>(text.size());
    if (at < 0 || at >= size || room <= 0)
        return 0;
    if (room >= size - at || language == SendAs::Driver)
        return std::min(room, size - at);
    const std::ptrdiff_t limit = at + room;
    const auto byte = [&](std::ptrdiff_t i) { return text[static_cast<std::size_t>(i)]; };
    const JobSyntax syntax = SyntaxOf(language);
    const std::string_view cut = syntax.Cut;
    // From the start of the instruction `at` is in: a cut's pairs are
    // counted from its first number.
    const std::size_t before =
        at == 0 ? std::string_view::npos : text.rfind(syntax.Terminator, static_cast<std::size_t>(at - 1));
    std::ptrdiff_t start = before == std::string_view::npos ? 0 : static_cast<std::ptrdiff_t>(before) + 1;
    std::ptrdiff_t best = at;
    while (start < size && start <= limit) {
        if (syntax.LineBreak && byte(start) == '\n') {
            ++start;
            continue;
        }
        std::ptrdiff_t p = start;
        if (text.substr(static_cast<std::size_t>(start)).starts_with(cut)) {
            // The ends of the cut's whole pairs that more pairs follow.
            p += static_cast<std::ptrdiff_t>(cut.size());
            for (int numbers = 1; p < size && p <= limit; ++numbers, ++p) {
                if (byte(p) == '-')
                    ++p;
                while (p < size && IsDigit(byte(p)))
                    ++p;
                if (p >= size || byte(p) != ',')
                    break;
                if (numbers % 2 == 0 && p > at && p <= limit)
                    best = p;
            }
        }
        const std::size_t end = text.find(syntax.Terminator, static_cast<std::size_t>(p));
        if (end == std::string_view::npos)
            break;
        // Through the terminator and the line break after it.
        std::ptrdiff_t next = static_cast<std::ptrdiff_t>(end) + 1;
        if (syntax.LineBreak && next < size && byte(next) == '\n')
            ++next;
        if (next > limit)
            break;
        if (next > at)
            best = next;
        start = next;
    }
    return best - at;
}
