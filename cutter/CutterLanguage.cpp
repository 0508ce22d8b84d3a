#include "cutter/CutterLanguage.h"

#include "common/Exceptions.h"

#include <charconv>
#include <cmath>
#include <cstring>

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
    MoveCutEncoder(ByteSink& sink, double unitsPerMm, char terminator)
        : CutterEncoder(sink), FUnitsPerMm(unitsPerMm), FTerminator(terminator)
    {}
    double UnitsPerMm() const noexcept override { return FUnitsPerMm; }
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

private:
    void EndCut()
    {
        if (FCutting)
            Put(FTerminator);
        FCutting = false;
    }
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
    case SendAs::GPGL: return std::make_unique<MoveCutEncoder>(sink, 20.0, '\x03');
    case SendAs::CAMMGL: return std::make_unique<MoveCutEncoder>(sink, 40.0, '\n');
    case SendAs::Driver: break;
    }
    return nullptr;
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
    }
    if (!syntax.Lift.empty()) {
        close += syntax.Lift;
    } else if (const std::string at = LastPair(job, end); !at.empty()) {
        close += 'M' + at + syntax.Terminator;
    }
    return {end - sent, close};
}
