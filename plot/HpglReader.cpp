#include "plot/HpglReader.h"

#include "common/Exceptions.h"
#include "plot/PlotTextReader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <numbers>

namespace {

// 40 plotter units per mm, 100 store units per mm.
constexpr double StorePerUnit = 2.5;
// No point of a curve strays further from the true curve than this, in mm;
// with the store's rounding (at most 0.0071 mm) a chord stays within 0.01 mm.
constexpr double ChordSagMm = 0.0025;
// Numbers beyond this (in plotter units) are refused as they are read, so
// that positions summed over a whole file stay finite.
constexpr double LargestNumber = 1e12;
// A polyline costs its start index and bound, a point its two coordinates.
constexpr std::uint64_t PolygonBytes = sizeof(std::uint32_t) + sizeof(TRect);
constexpr std::uint64_t PointBytes = sizeof(TPoint);
// Pen numbers are told apart up to this.
constexpr int MaxPenNumber = 1000000000;

constexpr int Code(char a, char b)
{
    return (a << 8) | b;
}

bool IsLetter(unsigned char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

bool IsBlank(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Why an instruction is refused, or nullptr when it is passed over: it does
// not change what is cut.
const char* RefusalReason(int code)
{
    switch (code) {
    case Code('S', 'C'):
    case Code('I', 'P'):
    case Code('I', 'R'): return "it scales the plot";
    case Code('R', 'O'): return "it rotates the plot";
    case Code('I', 'W'): return "it clips the plot to a window";
    case Code('L', 'B'):
    case Code('C', 'P'):
    case Code('B', 'L'):
    case Code('P', 'B'): return "it draws text";
    case Code('S', 'M'): return "it draws a symbol at every point";
    case Code('E', 'A'):
    case Code('E', 'R'):
    case Code('E', 'P'):
    case Code('E', 'W'):
    case Code('F', 'P'):
    case Code('R', 'A'):
    case Code('R', 'R'):
    case Code('W', 'G'):
    case Code('P', 'M'):
    case Code('B', 'R'):
    case Code('B', 'Z'):
    case Code('A', 'T'):
    case Code('R', 'T'): return "this program does not draw that shape";
    case Code('V', 'S'): // speed
    case Code('F', 'S'): // force
    case Code('A', 'S'): // acceleration
    case Code('L', 'T'): // line type: a knife has no dashes
    case Code('P', 'W'):
    case Code('P', 'T'):
    case Code('W', 'U'):
    case Code('N', 'P'):
    case Code('P', 'C'):
    case Code('M', 'C'):
    case Code('T', 'R'):
    case Code('C', 'R'):
    case Code('C', 'T'): // chord tolerance: curves are always cut finer
    case Code('D', 'F'):
    case Code('B', 'P'):
    case Code('P', 'S'):
    case Code('F', 'T'):
    case Code('U', 'L'):
    case Code('R', 'F'):
    case Code('A', 'C'):
    case Code('L', 'A'):
    case Code('C', 'F'):
    case Code('C', 'O'):
    case Code('C', 'V'):
    case Code('D', 'T'):
    case Code('D', 'I'):
    case Code('D', 'R'):
    case Code('D', 'V'):
    case Code('E', 'S'):
    case Code('L', 'O'):
    case Code('S', 'I'):
    case Code('S', 'L'):
    case Code('S', 'R'):
    case Code('S', 'A'):
    case Code('S', 'S'):
    case Code('C', 'S'):
    case Code('C', 'A'):
    case Code('S', 'D'):
    case Code('A', 'D'):
    case Code('T', 'D'):
    case Code('M', 'G'):
    case Code('K', 'Y'):
    case Code('E', 'C'):
    case Code('Q', 'L'):
    case Code('N', 'R'):
    case Code('O', 'A'):
    case Code('O', 'C'):
    case Code('O', 'D'):
    case Code('O', 'E'):
    case Code('O', 'F'):
    case Code('O', 'H'):
    case Code('O', 'I'):
    case Code('O', 'O'):
    case Code('O', 'P'):
    case Code('O', 'S'):
    case Code('O', 'T'):
    case Code('O', 'W'):
    case Code('I', 'M'): return nullptr;
    default: return "it is not an instruction this program reads";
    }
}

// Fills the store, holding it to the memory the file allows.
class Filler {
public:
    Filler(TPLT& store, std::uint64_t budget, const std::string& fileName)
        : FStore(store), FBudget(budget), FFileName(fileName)
    {}
    void NewPolygon()
    {
        Count(1, 0);
        FStore.AddPolygon();
    }
    void Point(TPoint p)
    {
        Count(0, 1);
        FStore.AddPoint(p);
    }
    // Checked before a curve's points are made: a few bytes can ask for
    // millions.
    void Afford(std::uint64_t points) const
    {
        if (FPolygons * PolygonBytes + (FPoints + points) * PointBytes > FBudget)
            throw EFileError(Format("The plot in \"%1\" is too large to cut: its lines and curves need "
                                    "more than %2 MiB",
                                    FFileName, FBudget / (1024 * 1024)));
    }

private:
    void Count(std::uint64_t polygons, std::uint64_t points)
    {
        FPolygons += polygons;
        FPoints += points;
        Afford(0);
    }

    TPLT& FStore;
    std::uint64_t FBudget;
    const std::string& FFileName;
    std::uint64_t FPolygons = 0;
    std::uint64_t FPoints = 0;
};

struct Position {
    double X = 0;
    double Y = 0;
};

class Parser {
public:
    Parser(std::string_view text, std::span<const int> pens, Filler& sink) : FText(text), FPens(pens), FSink(sink) {}

    void Run()
    {
        while (SkipSeparators(), FAt < End()) {
            FStart = FAt;
            const unsigned char a = Byte(FAt);
            if (a == ';') {
                ++FAt;
                continue;
            }
            if (a == 0x1B) {
                SkipEscape();
                continue;
            }
            if (!IsLetter(a) || FAt + 1 >= End() || !IsLetter(Byte(FAt + 1)))
                Fail(Format("Unexpected \"%1\" at %2: an HPGL instruction starts with two letters",
                            Quote(FAt, std::min<std::ptrdiff_t>(FAt + 2, End())), Where(FAt)));
            const int code = Code(char(a & ~0x20), char(Byte(FAt + 1) & ~0x20));
            FAt += 2;
            Instruction(code);
        }
    }

private:
    std::ptrdiff_t End() const { return static_cast<std::ptrdiff_t>(FText.size()); }
    unsigned char Byte(std::ptrdiff_t i) const
    {
        return static_cast<unsigned char>(FText[static_cast<std::size_t>(i)]);
    }

    void Instruction(int code)
    {
        switch (code) {
        case Code('I', 'N'):
            FAbsolute = true;
            FPenDown = false;
            FTool = {};
            FOpen = false;
            SkipParameters();
            return;
        case Code('P', 'U'):
            FPenDown = false;
            FOpen = false;
            Moves();
            return;
        case Code('P', 'D'):
            FPenDown = true;
            Moves();
            return;
        case Code('P', 'A'):
            FAbsolute = true;
            Moves();
            return;
        case Code('P', 'R'):
            FAbsolute = false;
            Moves();
            return;
        case Code('S', 'P'): {
            double pen = 0;
            Number(pen);
            FPen = static_cast<int>(std::clamp(pen, -double(MaxPenNumber), double(MaxPenNumber)));
            FOpen = false;
            break;
        }
        case Code('P', 'E'): Encoded(); return;
        case Code('C', 'I'): Circle(); break;
        case Code('A', 'A'):
        case Code('A', 'R'): Arc(code == Code('A', 'R')); break;
        case Code('P', 'G'):
        case Code('F', 'R'):
            // A new sheet: harmless at the end of a file, refused before more
            // cutting, which would land on the first sheet.
            if (FPageAt < 0)
                FPageAt = FStart;
            SkipParameters();
            return;
        default:
            if (const char* reason = RefusalReason(code))
                Fail(Format("The HPGL instruction \"%1\" at %2 is not supported: %3", Quote(FStart, FStart + 2),
                            Where(FStart), reason));
            if (code == Code('D', 'T') && FAt < End())
                ++FAt; // the label terminator, any character
            SkipParameters();
            return;
        }
        EndInstruction();
    }

    // PU, PD, PA and PR: pairs, each a move with the pen as it is.
    void Moves()
    {
        double x = 0, y = 0;
        while (Number(x)) {
            if (!Number(y))
                Fail(Format("The HPGL instruction \"%1\" at %2 has an X coordinate without its Y", InstructionText(),
                            Where(FStart)));
            Go(FAbsolute ? Position{x, y} : Position{FTool.X + x, FTool.Y + y}, FPenDown && PenChosen());
        }
        EndInstruction();
    }

    // PE: moves as encoded numbers, relative unless flagged absolute, cut
    // unless flagged pen-up; flags also choose a pen, base 32 (7-bit lines)
    // and fractional bits. Only ";" ends it: its digits include letters.
    void Encoded()
    {
        bool sevenBit = false, up = false, absolute = false;
        double unit = 1; // a coordinate's value, 2^-bits
        for (;;) {
            SkipEncodedFill();
            if (FAt >= End() || Byte(FAt) == ';')
                break;
            switch (Byte(FAt) & 0x7F) { // flags disregard the eighth bit
            case ':': {
                ++FAt;
                const double pen = EncodedNumber(sevenBit, "a pen number");
                FPen = static_cast<int>(std::clamp(pen, -double(MaxPenNumber), double(MaxPenNumber)));
                FOpen = false;
                continue;
            }
            case '<': ++FAt, up = true; continue;
            case '=': ++FAt, absolute = true; continue;
            case '7': ++FAt, sevenBit = true; continue;
            case '>': {
                ++FAt;
                const double bits = EncodedNumber(sevenBit, "the number of fractional bits");
                if (std::abs(bits) > 26)
                    Fail(Format("The HPGL instruction \"PE\" at %1 asks for %2 fractional bits; it takes -26 "
                                "to 26",
                                Where(FStart), bits));
                unit = std::ldexp(1.0, -static_cast<int>(bits));
                continue;
            }
            default: break;
            }
            const double x = EncodedNumber(sevenBit, "a coordinate") * unit;
            const double y = EncodedNumber(sevenBit, "the Y of its last X") * unit;
            if (std::max(std::abs(x), std::abs(y)) > LargestNumber)
                OutOfRange();
            Go(absolute ? Position{x, y} : Position{FTool.X + x, FTool.Y + y}, !up && PenChosen());
            FPenDown = !up; // the pen stays as the last move left it
            up = absolute = false;
        }
        if (FAt < End())
            ++FAt;
    }

    // Bytes that PE passes over wherever they stand: blanks, controls, DEL,
    // and 128 to 160 and 255.
    void SkipEncodedFill()
    {
        while (FAt < End()) {
            const unsigned char c = Byte(FAt);
            if (c > ' ' && c != 127 && !(c >= 128 && c <= 160) && c != 255)
                return;
            ++FAt;
        }
    }

    // One number of PE: digits least significant first, the last one told
    // apart by its range; the lowest bit is the sign.
    double EncodedNumber(bool sevenBit, const char* what)
    {
        const int base = sevenBit ? 32 : 64;
        const unsigned char lastFrom = sevenBit ? 95 : 191;
        const std::ptrdiff_t start = FAt;
        double magnitude = 0, place = 1;
        for (;;) {
            SkipEncodedFill();
            if (FAt >= End() || Byte(FAt) == ';')
                Fail(Format("The HPGL instruction \"PE\" at %1 ends where it needs %2", Where(FStart), what));
            const unsigned char c = sevenBit ? Byte(FAt) & 0x7F : Byte(FAt);
            const bool last = c >= lastFrom && c < lastFrom + base;
            if (!last && !(c >= 63 && c < 63 + base))
                Fail(Format("The HPGL instruction \"PE\" at %1 has \"%2\" where it needs %3", Where(FStart),
                            Quote(FAt, FAt + 1), what));
            ++FAt;
            magnitude += (c - (last ? lastFrom : 63)) * place;
            place *= base;
            if (last)
                break;
            if (place > 1e30)
                MalformedNumber(start, FAt);
        }
        // 2n for n, 2n + 1 for -n.
        const double half = std::floor(magnitude / 2);
        return magnitude - 2 * half > 0 ? -half : half;
    }

    void Circle()
    {
        double r = 0, chord = 0;
        if (!Number(r))
            Fail(Format("The HPGL instruction \"%1\" at %2 needs a radius", InstructionText(), Where(FStart)));
        Number(chord); // its own chord angle: curves are always cut finer
        FOpen = false;
        const double radius = std::abs(r);
        if (!PenChosen() || radius == 0)
            return;
        CheckReach(FTool, radius);
        const std::uint64_t n = std::max<std::uint64_t>(Chords(radius, 2 * std::numbers::pi), 4);
        const double start = r < 0 ? std::numbers::pi : 0;
        StartPolyline();
        FSink.Afford(n + 1);
        const TPoint first = ToStore({FTool.X + radius * std::cos(start), FTool.Y + radius * std::sin(start)});
        FSink.Point(first);
        for (std::uint64_t k = 1; k < n; ++k) {
            const double a = start + 2 * std::numbers::pi * double(k) / double(n);
            FSink.Point(ToStore({FTool.X + radius * std::cos(a), FTool.Y + radius * std::sin(a)}));
        }
        FSink.Point(first);
    }

    void Arc(bool relative)
    {
        double cx = 0, cy = 0, sweep = 0, chord = 0;
        if (!Number(cx) || !Number(cy) || !Number(sweep))
            Fail(Format("The HPGL instruction \"%1\" at %2 needs a centre and an angle", InstructionText(),
                        Where(FStart)));
        Number(chord);
        const Position centre = relative ? Position{FTool.X + cx, FTool.Y + cy} : Position{cx, cy};
        const double radius = std::hypot(FTool.X - centre.X, FTool.Y - centre.Y);
        if (radius == 0)
            return;
        const double from = std::atan2(FTool.Y - centre.Y, FTool.X - centre.X);
        const double turn = std::clamp(sweep, -360.0, 360.0) * std::numbers::pi / 180;
        const auto at = [&](double a) {
            return Position{centre.X + radius * std::cos(a), centre.Y + radius * std::sin(a)};
        };
        const bool cut = FPenDown && PenChosen();
        if (!cut) {
            Go(at(from + turn), false);
            return;
        }
        CheckReach(centre, radius);
        const std::uint64_t n = Chords(radius, std::abs(turn));
        FSink.Afford(n);
        for (std::uint64_t k = 1; k <= n; ++k)
            Go(at(from + turn * double(k) / double(n)), true);
    }

    // Chords for a turn of the given angle on a circle of this radius (in
    // plotter units), each within ChordSagMm of the curve.
    std::uint64_t Chords(double radius, double turn)
    {
        const double s = std::min(1.0, std::sqrt(ChordSagMm * 40 / (2 * radius)));
        const double step = 4 * std::asin(s);
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(turn / step)));
    }

    // The tool to p, cutting or not.
    void Go(Position p, bool cut)
    {
        if (cut) {
            if (!FOpen) {
                StartPolyline();
                FSink.Point(ToStore(FTool));
            }
            FSink.Point(ToStore(p));
        }
        FOpen = cut;
        FTool = p;
    }

    void StartPolyline()
    {
        if (FPageAt >= 0)
            Fail(Format("The HPGL instruction \"%1\" at %2 is not supported: it starts a new sheet, and "
                        "the plot goes on after it",
                        Quote(FPageAt, FPageAt + 2), Where(FPageAt)));
        FSink.NewPolygon();
    }

    bool PenChosen() const { return FPens.empty() || std::ranges::find(FPens, FPen) != FPens.end(); }

    // Nearest store unit; a point that does not fit 32 bits is refused.
    TPoint ToStore(Position p) { return {ToStore(p.X), ToStore(p.Y)}; }
    std::int32_t ToStore(double units)
    {
        // Halves away from zero, without a library call per coordinate.
        const double v = std::abs(units * StorePerUnit) + 0.5;
        if (!(v < double(INT32_MAX) + 1))
            OutOfRange();
        const auto magnitude = static_cast<std::int32_t>(v);
        return units < 0 ? -magnitude : magnitude;
    }

    // A curve around centre of this radius stays within reach of the store.
    void CheckReach(Position centre, double radius)
    {
        const double reach = (std::max(std::abs(centre.X), std::abs(centre.Y)) + radius) * StorePerUnit;
        if (!(reach <= double(INT32_MAX) - 1))
            OutOfRange();
    }

    [[noreturn]] void OutOfRange()
    {
        Fail(Format("The HPGL instruction \"%1\" at %2 goes out of range for a plot coordinate", InstructionText(),
                    Where(FStart)));
    }

    // The next number of the instruction's parameters; false at its end.
    bool Number(double& value)
    {
        SkipSeparators();
        if (FAt < End() && Byte(FAt) == ',') {
            ++FAt;
            SkipSeparators();
            // A trailing comma before the end is harmless; two in a row are not.
            if (FAt < End() && Byte(FAt) == ',')
                MalformedNumber(FAt, FAt + 1);
        }
        if (AtInstructionEnd())
            return false;
        // [sign] digits [. digits], or [sign] . digits, up to a separator or
        // the instruction's end.
        const std::ptrdiff_t start = FAt;
        std::ptrdiff_t k = FAt;
        bool negative = false;
        if (k < End() && (Byte(k) == '+' || Byte(k) == '-'))
            negative = Byte(k++) == '-';
        std::uint64_t whole = 0;
        int digits = 0;
        for (; k < End() && Byte(k) >= '0' && Byte(k) <= '9'; ++k, ++digits)
            whole = digits < 19 ? whole * 10 + (Byte(k) - '0') : whole;
        double v = digits < 19 ? double(whole) : 1e300; // too long is out of range below
        if (k < End() && Byte(k) == '.') {
            double scale = 0.1;
            for (++k; k < End() && Byte(k) >= '0' && Byte(k) <= '9'; ++k, ++digits, scale /= 10)
                v += (Byte(k) - '0') * scale;
        }
        FAt = k;
        if (digits == 0 || !(FAt >= End() || IsSeparator(Byte(FAt)))) {
            while (FAt < End() && !IsSeparator(Byte(FAt)))
                ++FAt;
            MalformedNumber(start, FAt);
        }
        if (v > LargestNumber)
            OutOfRange();
        value = negative ? -v : v;
        return true;
    }

    // What may follow a number.
    static bool IsSeparator(unsigned char c) { return IsBlank(c) || c == ',' || c == ';' || IsLetter(c) || c == 0x1B; }

    [[noreturn]] void MalformedNumber(std::ptrdiff_t from, std::ptrdiff_t to)
    {
        Fail(Format("The HPGL instruction \"%1\" at %2 has a malformed number: \"%3\"", InstructionText(),
                    Where(FStart), Quote(from, to)));
    }

    bool AtInstructionEnd() const
    {
        return FAt >= End() || Byte(FAt) == ';' || IsLetter(Byte(FAt)) || Byte(FAt) == 0x1B;
    }

    void EndInstruction()
    {
        SkipSeparators();
        if (FAt < End() && Byte(FAt) == ',')
            ++FAt, SkipSeparators();
        if (!AtInstructionEnd())
            Fail(Format("The HPGL instruction \"%1\" at %2 has more numbers than it takes", InstructionText(),
                        Where(FStart)));
        if (FAt < End() && Byte(FAt) == ';')
            ++FAt;
    }

    // Parameters of an instruction passed over: up to its end, strings in
    // double quotes taken whole.
    void SkipParameters()
    {
        while (FAt < End() && Byte(FAt) != ';' && !IsLetter(Byte(FAt)) && Byte(FAt) != 0x1B) {
            if (Byte(FAt) == '"') {
                const std::size_t close = FText.find('"', static_cast<std::size_t>(FAt + 1));
                FAt = close == std::string_view::npos ? End() : static_cast<std::ptrdiff_t>(close);
            }
            ++FAt;
        }
        if (FAt < End() && Byte(FAt) == ';')
            ++FAt;
    }

    // Device control (ESC . letter [parameters :]) and the printer language
    // around HP-GL/2 (ESC % [-]digits letter, ESC E): none of it draws.
    void SkipEscape()
    {
        const std::ptrdiff_t start = FAt++;
        const unsigned char kind = FAt < End() ? Byte(FAt++) : 0;
        if (kind == '.' && FAt < End()) {
            ++FAt;
            std::ptrdiff_t i = FAt;
            while (i < End() && ((Byte(i) >= '0' && Byte(i) <= '9') || Byte(i) == ';' || IsBlank(Byte(i))))
                ++i;
            if (i < End() && Byte(i) == ':')
                FAt = i + 1;
            return;
        }
        if (kind == '%') {
            if (FAt < End() && (Byte(FAt) == '-' || Byte(FAt) == '+'))
                ++FAt;
            while (FAt < End() && Byte(FAt) >= '0' && Byte(FAt) <= '9')
                ++FAt;
            if (FAt < End() && IsLetter(Byte(FAt))) {
                ++FAt;
                return;
            }
        } else if (kind == 'E') {
            return;
        }
        Fail(Format("The escape sequence at %1 is not one this program reads", Where(start)));
    }

    void SkipSeparators()
    {
        while (FAt < End() && IsBlank(Byte(FAt)))
            ++FAt;
    }

    // The instruction being read, as written, up to its end.
    std::string InstructionText() const
    {
        std::ptrdiff_t i = FStart + 2;
        while (i < End() && Byte(i) != ';' && Byte(i) != 0x1B && !IsLetter(Byte(i)) && Byte(i) != '\r'
               && Byte(i) != '\n')
            ++i;
        return Quote(FStart, i);
    }

    std::string Quote(std::ptrdiff_t from, std::ptrdiff_t to) const
    {
        // Enough bytes for the characters a message shows.
        const std::ptrdiff_t n = std::min<std::ptrdiff_t>(to - from, 4 * 65);
        return ShortenedForMessage(ValidUtf8(Slice(from, n), true));
    }

    std::string_view Slice(std::ptrdiff_t from, std::ptrdiff_t n) const
    {
        return FText.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(n));
    }

    // "line L, column C", counting lines as the file's lines and columns in
    // characters, both from 1.
    std::string Where(std::ptrdiff_t offset) const
    {
        std::ptrdiff_t line = 1, lineStart = 0;
        for (std::ptrdiff_t i = 0; i < offset; ++i) {
            const unsigned char c = Byte(i);
            if (c == '\n' || (c == '\r' && !(i + 1 < offset && Byte(i + 1) == '\n'))) {
                ++line;
                lineStart = i + 1;
            }
        }
        const std::size_t column = Utf16Length(ValidUtf8(Slice(lineStart, offset - lineStart), true)) + 1;
        return Format("line %1, column %2", line, column);
    }

    [[noreturn]] void Fail(const std::string& message) const { throw EConvertError(message); }

    std::string_view FText;
    std::span<const int> FPens;
    Filler& FSink;
    std::ptrdiff_t FAt = 0;    // next byte to read
    std::ptrdiff_t FStart = 0; // where the current instruction began
    std::ptrdiff_t FPageAt = -1;
    Position FTool; // where the tool is, in plotter units
    bool FAbsolute = true;
    bool FPenDown = false;
    bool FOpen = false; // the store's last polyline ends where the tool is
    int FPen = 1;       // files that never choose a pen are cut with the first
};

// The text as bytes: a UTF-8 mark is skipped, UTF-16 is turned into UTF-8,
// and the text ends at the first NUL, as for plot files in the sample's
// layout.
std::string_view Text(std::string_view data, const std::string& fileName, std::string& converted)
{
    const auto* b = reinterpret_cast<const unsigned char*>(data.data());
    if (data.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        if (data.size() % 2 != 0)
            throw EFileError(Format("The file \"%1\" is not valid UTF-16 text: it ends in the middle of a "
                                    "character",
                                    fileName));
        const int high = b[0] == 0xFF ? 1 : 0;
        std::u16string units(data.size() / 2 - 1, u'\0');
        for (std::size_t k = 0; k < units.size(); ++k)
            units[k] = static_cast<char16_t>((b[2 + 2 * k + high] << 8) | b[2 + 2 * k + 1 - high]);
        // A second mark right after the first is dropped too, as a decoder
        // drops the mark at its start.
        const std::u16string_view text(units);
        converted = Utf8FromUtf16(text.starts_with(u'\uFEFF') ? text.substr(1) : text);
        data = converted;
    } else if (data.size() >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) {
        data = data.substr(3);
    }
    return data.substr(0, data.find('\0'));
}

} // namespace

std::size_t HpglStoreBudget(std::int64_t FileSize)
{
    // With the file itself, a read stays under six times the file; small
    // files may still hold sizeable curves.
    return std::max<std::size_t>(5 * static_cast<std::size_t>(FileSize), std::size_t(64) * 1024 * 1024);
}

void ReadHpglData(TPLT& Store, std::string_view Data, const std::string& FileName, std::span<const int> Pens)
{
    try {
        std::string converted;
        const std::string_view text = Text(Data, FileName, converted);
        // Room for every polyline and point that moves can write in this
        // many bytes ("PD0,0PU" for a polyline, "0,0," for a point), so the
        // arrays never regrow for them; pages never written cost nothing.
        // Curves beyond that grow the arrays under the budget.
        const auto size = static_cast<std::size_t>(text.size());
        TPLT fresh;
        fresh.Reserve(size / 7 + 1, size / 4 + size / 7 + 2);
        Filler filler(fresh, HpglStoreBudget(static_cast<std::int64_t>(Data.size())), FileName);
        Parser(text, Pens, filler).Run();
        fresh.Squeeze();
        // Only a whole read replaces the store.
        Store = std::move(fresh);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Out of memory while reading the file \"%1\"", FileName));
    }
}

std::optional<std::vector<int>> PensFromText(std::string_view Text)
{
    const std::string trimmed = Trimmed(Text);
    std::vector<int> pens;
    if (trimmed.empty() || SameWord(trimmed, "all"))
        return pens;
    for (const std::string& word : Words(trimmed, ",")) {
        const std::optional<int> pen = IntFromText(word);
        // Pen numbers past those the reader tells apart would match nothing.
        if (!pen || *pen < 0 || *pen > MaxPenNumber || word.starts_with('+'))
            return std::nullopt;
        if (std::ranges::find(pens, *pen) == pens.end())
            pens.push_back(*pen);
    }
    return pens;
}

std::string PensText(std::span<const int> Pens)
{
    std::vector<std::string> words;
    for (int pen : Pens)
        words.push_back(std::to_string(pen));
    return Join(words, ", ");
}
