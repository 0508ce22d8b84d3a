#include "plot/HpglReader.h"

#include "common/Exceptions.h"
#include "plot/PlotTextReader.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <numbers>
#include <utility>

namespace {

// 40 plotter units per mm, 100 store units per mm.
constexpr double UnitsPerMm = 40;
constexpr double StorePerUnit = 2.5;
// No point of a curve strays further from the true curve than this, in mm;
// with the store's rounding (at most 0.0071 mm) a chord stays within 0.01 mm.
constexpr double ChordSagMm = 0.0025;
constexpr double ChordSagUnits = ChordSagMm * UnitsPerMm;
// Numbers beyond this (in plotter units) are refused as they are read, so
// that positions summed over a whole file stay finite.
constexpr double LargestNumber = 1e12;
// A polyline costs its start index and bound, a point its two coordinates;
// a polygon's vertex, kept until the polygon is edged, three times that.
constexpr std::uint64_t PolygonBytes = sizeof(std::uint32_t) + sizeof(TRect);
constexpr std::uint64_t PointBytes = sizeof(TPoint);
constexpr std::uint64_t VertexPoints = 3;
// Pen numbers are told apart up to this.
constexpr int MaxPenNumber = 1000000000;
// A label's character cell: 1.5 characters wide, 2 high; characters
// 0.187 x 0.269 cm until SI or SR sets them (400 plotter units a cm).
constexpr double CellWidths = 1.5, CellHeights = 2;
constexpr double DefaultCharWidthCm = 0.187, DefaultCharHeightCm = 0.269;
constexpr unsigned char EndOfText = 0x03;

constexpr int Code(char a, char b)
{
    return (a << 8) | b;
}

bool IsLetter(unsigned char c)
{
    return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}

bool IsDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
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
    case Code('B', 'P'):
    case Code('P', 'S'):
    case Code('F', 'T'): // fill type: fills are not cut
    case Code('U', 'L'):
    case Code('R', 'F'):
    case Code('A', 'C'):
    case Code('L', 'A'):
    case Code('C', 'F'):
    case Code('C', 'O'):
    case Code('C', 'V'):
    case Code('D', 'V'): // label settings that do not move the pen
    case Code('L', 'O'):
    case Code('S', 'L'):
    case Code('S', 'A'):
    case Code('S', 'S'):
    case Code('C', 'S'):
    case Code('C', 'A'):
    case Code('S', 'D'):
    case Code('A', 'D'):
    case Code('T', 'D'):
    case Code('L', 'M'):
    case Code('S', 'B'):
    case Code('F', 'I'):
    case Code('F', 'N'):
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

// Instructions a polygon (PM0 to PM2) may hold, besides those passed over.
bool AllowedInPolygon(int code)
{
    switch (code) {
    case Code('P', 'U'):
    case Code('P', 'D'):
    case Code('P', 'A'):
    case Code('P', 'R'):
    case Code('P', 'E'):
    case Code('A', 'A'):
    case Code('A', 'R'):
    case Code('C', 'I'):
    case Code('B', 'Z'):
    case Code('B', 'R'):
    case Code('P', 'M'):
    case Code('I', 'N'):
    case Code('D', 'F'):
    case Code('S', 'P'): return true;
    default: return false;
    }
}

// "line L, column C" of a byte offset, counting lines as the file's lines
// and columns in characters, both from 1.
std::string Where(std::string_view text, std::ptrdiff_t offset)
{
    std::ptrdiff_t line = 1, lineStart = 0;
    for (std::ptrdiff_t i = 0; i < offset; ++i) {
        const auto c = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        if (c == '\n' || (c == '\r' && !(i + 1 < offset && text[static_cast<std::size_t>(i + 1)] == '\n'))) {
            ++line;
            lineStart = i + 1;
        }
    }
    const std::size_t column =
        Utf16Length(ValidUtf8(
            text.substr(static_cast<std::size_t>(lineStart), static_cast<std::size_t>(offset - lineStart)), true))
        + 1;
    return Format("line %1, column %2", line, column);
}

std::string Counted(std::uint64_t n, const char* one, const char* many)
{
    return Format("%1 %2", n, n == 1 ? one : many);
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
        if (FPolygons * PolygonBytes + (FPoints + FVertices * VertexPoints + points) * PointBytes > FBudget)
            throw EFileError(Format("The plot in \"%1\" is too large to cut: its lines and curves need "
                                    "more than %2 MiB",
                                    FFileName, FBudget / (1024 * 1024)));
    }
    // Room for a polygon's vertices, held until it is edged.
    void Vertices(std::uint64_t n)
    {
        FVertices = n;
        Afford(0);
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
    std::uint64_t FVertices = 0;
};

struct Position {
    double X = 0;
    double Y = 0;
    friend bool operator==(const Position&, const Position&) = default;
    Position operator+(Position o) const { return {X + o.X, Y + o.Y}; }
    Position operator-(Position o) const { return {X - o.X, Y - o.Y}; }
    Position operator*(double k) const { return {X * k, Y * k}; }
};

double Length(Position d)
{
    return std::sqrt(d.X * d.X + d.Y * d.Y);
}

// x' = A x + B y + E, y' = C x + D y + F. Scaling and quarter turns only:
// the matrix is diagonal or anti-diagonal, never singular.
struct Affine {
    double A = 1, B = 0, C = 0, D = 1, E = 0, F = 0;

    Position operator()(Position p) const { return {A * p.X + B * p.Y + E, C * p.X + D * p.Y + F}; }
    Position Linear(Position d) const { return {A * d.X + B * d.Y, C * d.X + D * d.Y}; }
    Position Inverse(Position q) const
    {
        const double det = A * D - B * C, x = q.X - E, y = q.Y - F;
        return {(D * x - B * y) / det, (A * y - C * x) / det};
    }
    // The most a length grows.
    double Stretch() const { return std::max(std::hypot(A, C), std::hypot(B, D)); }
    // this after inner.
    Affine After(const Affine& i) const
    {
        return {A * i.A + B * i.C, A * i.B + B * i.D,     C * i.A + D * i.C,
                C * i.B + D * i.D, A * i.E + B * i.F + E, C * i.E + D * i.F + F};
    }
};

// Scale (SC): off, or user units mapped onto P1 and P2.
struct Scaling {
    enum Kind { Off = -1, Anisotropic = 0, Isotropic = 1, PointFactor = 2 } Type = Off;
    double XMin = 0, XMax = 0, YMin = 0, YMax = 0; // XMax and YMax are the factors of PointFactor
    double Left = 50, Bottom = 50;                 // Isotropic: where the spare room goes, in %
};

// A polygon's vertex: where, and whether the edge to it is drawn; Start
// begins a subpolygon, reached with the pen up.
struct Vertex {
    Position At;
    bool Down = false;
    bool Start = false;
};

// How labels advance the pen.
struct LabelStyle {
    bool RelativeSize = false;
    double Width = DefaultCharWidthCm, Height = DefaultCharHeightCm; // cm, or % of P2 - P1
    bool RelativeDirection = false;
    double Run = 1, Rise = 0;
    double ExtraSpaces = 0, ExtraLines = 0;
};

// The length of the store's lines, in mm.
double LengthMm(const TPLT& store)
{
    double total = 0;
    for (const TPolygonView& p : store.Polygons())
        for (std::size_t i = 1; i < p.Points.size(); ++i)
            total += std::hypot(double(p.Points[i].X) - p.Points[i - 1].X, double(p.Points[i].Y) - p.Points[i - 1].Y);
    return total / 100;
}

class Parser {
public:
    Parser(std::string_view text, std::span<const int> pens, const HpglSheet& sheet, Filler& sink)
        : FText(text), FPens(pens), FSheet{sheet.WidthMm * UnitsPerMm, sheet.HeightMm * UnitsPerMm}, FSink(sink)
    {
        Initialize();
    }

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
            if (a == '@' && FText.substr(static_cast<std::size_t>(FAt)).starts_with("@PJL")) {
                // A PJL line, between the jobs of a printer language.
                while (FAt < End() && Byte(FAt) != '\n')
                    ++FAt;
                ++FWrappers;
                continue;
            }
            if (!IsLetter(a) || FAt + 1 >= End() || !IsLetter(Byte(FAt + 1)))
                Fail(Format("Unexpected \"%1\" at %2: an HPGL instruction starts with two letters",
                            Quote(FAt, std::min<std::ptrdiff_t>(FAt + 2, End())), Where(FText, FAt)));
            const int code = Code(char(a & ~0x20), char(Byte(FAt + 1) & ~0x20));
            FAt += 2;
            if (FPolygonMode && !AllowedInPolygon(code) && RefusalReason(code))
                Fail(Format("The HPGL instruction \"%1\" at %2 cannot stand inside the polygon begun (PM) "
                            "at %3",
                            Quote(FStart, FStart + 2), Where(FText, FStart), Where(FText, FPolygonAt)));
            FInstructions = true;
            Instruction(code);
        }
        if (FPolygonMode)
            Fail(
                Format("The polygon (PM) at %1 is never ended, so its outline is never cut", Where(FText, FPolygonAt)));
    }

    // What the user is told of what was passed over or assumed; store holds
    // what was cut.
    std::vector<std::string> Notices(const TPLT& store) const
    {
        std::vector<std::string> notices;
        if (FSheetPoints)
            notices.push_back(Format("The file scales its plot (SC) to the plotter's own limits without setting "
                                     "them (IP): the sheet's %1 x %2 mm were taken",
                                     FSheet.X / UnitsPerMm, FSheet.Y / UnitsPerMm));
        if (const std::string skipped = Skipped(); !skipped.empty())
            notices.push_back(Format("Not cut, as a knife cuts only lines: %1", skipped));
        if (FWrappers > 0)
            notices.push_back(
                Format("Passed over: %1 around the plot",
                       Counted(FWrappers, "printer command (PCL or PJL)", "printer commands (PCL or PJL)")));
        if (FLeftOutUnits > 0)
            notices.push_back(
                Format("Part of the plot lies outside the window the file sets (IW) and was not "
                       "cut: %1",
                       LeftOutAmountText(LengthMm(store) + FLeftOutUnits / UnitsPerMm, FLeftOutUnits / UnitsPerMm)));
        return notices;
    }

    // Why nothing was cut, when the file drew only what is passed over, or
    // only points; empty when it simply drew nothing.
    std::string NothingCutReason(const TPLT& store) const
    {
        if (const std::string skipped = Skipped(); !skipped.empty())
            return Format("its only drawing is %1, which a knife does not cut", skipped);
        if (FLeftOutUnits > 0)
            return "all its lines lie outside the window it sets (IW)";
        if (FWrappers > 0 && !FInstructions)
            return "it holds only printer commands (PCL or PJL), and no HP-GL drawing";
        if (store.NPolygons() > 0)
            return std::string(NoLengthReason);
        return {};
    }

private:
    std::ptrdiff_t End() const { return static_cast<std::ptrdiff_t>(FText.size()); }
    unsigned char Byte(std::ptrdiff_t i) const
    {
        return static_cast<unsigned char>(FText[static_cast<std::size_t>(i)]);
    }

    std::string Skipped() const
    {
        std::vector<std::string> parts;
        if (FFills > 0)
            parts.push_back(Counted(FFills, "fill", "fills"));
        if (FLabels > 0)
            parts.push_back(Counted(FLabels, "label", "labels"));
        if (FSymbols > 0)
            parts.push_back(Counted(FSymbols, "symbol", "symbols"));
        if (parts.size() > 1)
            return Join({parts.begin(), parts.end() - 1}, ", ") + " and " + parts.back();
        return parts.empty() ? std::string() : parts.front();
    }

    // IN: the state of a plotter just switched on, the sheet as its limits.
    void Initialize()
    {
        FAbsolute = true;
        FPenDown = false;
        FTool = {};
        FCarriage = {};
        FOpen = false;
        FRotation = 0;
        FP1 = {};
        FP2 = FSheet;
        FPointsSet = false;
        Defaults();
    }

    // DF: scaling, window, polygon mode, labels and symbols back to their
    // defaults; the scaling points and rotation stay.
    void Defaults()
    {
        FAbsolute = true;
        FScaling = {};
        FWindow = false;
        FPolygonMode = false;
        FBuffer.clear();
        FLabel = {};
        FTerminator = EndOfText;
        FSymbol = false;
        Remap();
    }

    void Instruction(int code)
    {
        switch (code) {
        case Code('I', 'N'):
            Initialize();
            SkipParameters();
            return;
        case Code('D', 'F'):
            Defaults();
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
        case Code('B', 'Z'):
        case Code('B', 'R'): Bezier(code == Code('B', 'R')); break;
        case Code('P', 'M'): Polygon(); break;
        case Code('E', 'P'): EdgeBuffer(); break;
        case Code('F', 'P'):
            SkipParameters();
            CountFill();
            return;
        case Code('E', 'A'):
        case Code('E', 'R'):
        case Code('R', 'A'):
        case Code('R', 'R'): Rectangle(code); break;
        case Code('E', 'W'):
        case Code('W', 'G'): Wedge(code == Code('E', 'W')); break;
        case Code('I', 'P'):
        case Code('I', 'R'): ScalingPoints(code == Code('I', 'R')); break;
        case Code('S', 'C'): Scale(); break;
        case Code('R', 'O'): Rotate(); break;
        case Code('I', 'W'): Window(); break;
        case Code('L', 'B'): Label(ReadLabelText()); return;
        case Code('B', 'L'): FBufferedLabel = ReadLabelText(); return;
        case Code('P', 'B'):
            if (FBufferedLabel.has_value())
                Label(*FBufferedLabel);
            SkipParameters();
            return;
        case Code('C', 'P'): CharacterMove(); break;
        case Code('D', 'T'): Terminator(); return;
        case Code('S', 'M'):
            // The symbol is the character that follows; none turns it off.
            FSymbol = FAt < End() && Byte(FAt) != ';' && !IsBlank(Byte(FAt)) && Byte(FAt) != 0x1B;
            if (FSymbol)
                ++FAt;
            SkipParameters();
            return;
        case Code('S', 'I'):
        case Code('S', 'R'): LabelSize(code == Code('S', 'R')); break;
        case Code('D', 'I'):
        case Code('D', 'R'): LabelDirection(code == Code('D', 'R')); break;
        case Code('E', 'S'): {
            double spaces = 0, lines = 0;
            Number(spaces);
            Number(lines);
            FLabel.ExtraSpaces = spaces;
            FLabel.ExtraLines = lines;
            break;
        }
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
                            Where(FText, FStart), reason));
            SkipParameters();
            return;
        }
        EndInstruction();
    }

    // The file's current units (user units while scaling is on) to the
    // sheet's plotter units, and back.
    Position Sheet(Position u) const { return FPlain ? u : FMap(u); }
    Position Offset(Position d) const { return FPlain ? d : FMap.Linear(d); }
    Position User(Position p) const { return FPlain ? p : FMap.Inverse(p); }

    // PU, PD, PA and PR: pairs, each a move with the pen as it is.
    void Moves()
    {
        double x = 0, y = 0;
        bool moved = false;
        while (Number(x)) {
            if (!Number(y))
                Fail(Format("The HPGL instruction \"%1\" at %2 has an X coordinate without its Y", InstructionText(),
                            Where(FText, FStart)));
            Go(FAbsolute ? Sheet({x, y}) : FTool + Offset({x, y}), FPenDown);
            moved = true;
            if (FSymbol)
                CountSymbol();
        }
        // Labels' carriage returns go back to where moves last took the pen.
        if (moved)
            FCarriage = FTool;
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
                                Where(FText, FStart), bits));
                unit = std::ldexp(1.0, -static_cast<int>(bits));
                continue;
            }
            default: break;
            }
            const double x = EncodedNumber(sevenBit, "a coordinate") * unit;
            const double y = EncodedNumber(sevenBit, "the Y of its last X") * unit;
            if (std::max(std::abs(x), std::abs(y)) > LargestNumber)
                OutOfRange();
            Go(absolute ? Sheet({x, y}) : FTool + Offset({x, y}), !up);
            if (FSymbol)
                CountSymbol();
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
                Fail(Format("The HPGL instruction \"PE\" at %1 ends where it needs %2", Where(FText, FStart), what));
            const unsigned char c = sevenBit ? Byte(FAt) & 0x7F : Byte(FAt);
            const bool last = c >= lastFrom && c < lastFrom + base;
            if (!last && !(c >= 63 && c < 63 + base))
                Fail(Format("The HPGL instruction \"PE\" at %1 has \"%2\" where it needs %3", Where(FText, FStart),
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
            Fail(Format("The HPGL instruction \"%1\" at %2 needs a radius", InstructionText(), Where(FText, FStart)));
        Number(chord); // its own chord angle: curves are always cut finer
        FOpen = false;
        const double radius = std::abs(r);
        if (radius == 0 || (!FPolygonMode && !PenChosen()))
            return;
        // In the file's units: a circle under unequal scaling is an ellipse.
        const Position centre = User(FTool);
        const double stretch = FPlain ? 1 : FMap.Stretch();
        CheckReach(FTool, radius * stretch);
        const std::uint64_t n = std::max<std::uint64_t>(Chords(radius * stretch, 2 * std::numbers::pi), 4);
        const double start = r < 0 ? std::numbers::pi : 0;
        const auto at = [&](double a) {
            return Sheet({centre.X + radius * std::cos(a), centre.Y + radius * std::sin(a)});
        };
        const Position first = at(start);
        if (FPolygonMode) {
            // A subpolygon of its own, edged whatever the pen; the pen stays
            // at the centre, where the next subpolygon starts.
            FSink.Afford((n + 2) * VertexPoints);
            const Position centrePoint = FTool;
            FNextStarts = true;
            Record(first, false);
            for (std::uint64_t k = 1; k < n; ++k)
                Record(at(start + 2 * std::numbers::pi * double(k) / double(n)), true);
            Record(first, true);
            FNextStarts = true;
            Record(centrePoint, false);
            FTool = centrePoint;
            return;
        }
        FSink.Afford(n + 1);
        Position from = first;
        for (std::uint64_t k = 1; k < n; ++k) {
            const Position to = at(start + 2 * std::numbers::pi * double(k) / double(n));
            Cut(from, to);
            from = to;
        }
        Cut(from, first);
        FOpen = false;
    }

    void Arc(bool relative)
    {
        double cx = 0, cy = 0, sweep = 0, chord = 0;
        if (!Number(cx) || !Number(cy) || !Number(sweep))
            Fail(Format("The HPGL instruction \"%1\" at %2 needs a centre and an angle", InstructionText(),
                        Where(FText, FStart)));
        Number(chord);
        const Position from = User(FTool);
        const Position centre = relative ? from + Position{cx, cy} : Position{cx, cy};
        const double radius = std::hypot(from.X - centre.X, from.Y - centre.Y);
        if (radius == 0)
            return;
        const double start = std::atan2(from.Y - centre.Y, from.X - centre.X);
        // Past a whole turn the pen goes on round, as a plotter's does: the
        // next move starts where the sweep ends.
        const double turn = sweep * std::numbers::pi / 180;
        const auto at = [&](double a) {
            return Sheet({centre.X + radius * std::cos(a), centre.Y + radius * std::sin(a)});
        };
        if (!FPenDown || (!FPolygonMode && !PenChosen())) {
            Go(at(start + turn), FPenDown);
            return;
        }
        const double stretch = FPlain ? 1 : FMap.Stretch();
        CheckReach(Sheet(centre), radius * stretch);
        const std::uint64_t n = Chords(radius * stretch, std::abs(turn));
        FSink.Afford(FPolygonMode ? n * VertexPoints : n);
        for (std::uint64_t k = 1; k <= n; ++k)
            Go(at(start + turn * double(k) / double(n)), true);
    }

    // BZ and BR: cubic Béziers from the pen, three points each; BR's points
    // count from the pen as each curve begins.
    void Bezier(bool relative)
    {
        double v[6];
        while (Number(v[0])) {
            for (int i = 1; i < 6; ++i)
                if (!Number(v[i]))
                    Fail(Format("The HPGL instruction \"%1\" at %2 has a curve without all three of its "
                                "points",
                                InstructionText(), Where(FText, FStart)));
            const Position p0 = FTool;
            Position p[3];
            for (int i = 0; i < 3; ++i)
                p[i] = relative ? p0 + Offset({v[2 * i], v[2 * i + 1]}) : Sheet({v[2 * i], v[2 * i + 1]});
            if (!FPenDown || (!FPolygonMode && !PenChosen())) {
                Go(p[2], FPenDown);
                continue;
            }
            // The curve stays within its control points.
            for (const Position& q : {p0, p[0], p[1], p[2]})
                ToStore(q);
            // Steps that keep every chord within the sag (Wang's bound).
            const double bend = std::max(Length(p0 - p[0] * 2 + p[1]), Length(p[0] - p[1] * 2 + p[2]));
            const auto n = std::max<std::uint64_t>(
                1, static_cast<std::uint64_t>(std::ceil(std::sqrt(0.75 * bend / ChordSagUnits))));
            FSink.Afford(FPolygonMode ? n * VertexPoints : n);
            for (std::uint64_t k = 1; k < n; ++k) {
                const double t = double(k) / double(n), s = 1 - t;
                const double b0 = s * s * s, b1 = 3 * s * s * t, b2 = 3 * s * t * t, b3 = t * t * t;
                Go({b0 * p0.X + b1 * p[0].X + b2 * p[1].X + b3 * p[2].X,
                    b0 * p0.Y + b1 * p[0].Y + b2 * p[1].Y + b3 * p[2].Y},
                   true);
            }
            Go(p[2], true);
        }
    }

    // Chords for a turn of the given angle on a circle of this radius (in
    // plotter units), each within the sag of the curve.
    static std::uint64_t Chords(double radius, double turn)
    {
        const double s = std::min(1.0, std::sqrt(ChordSagUnits / (2 * radius)));
        const double step = 4 * std::asin(s);
        return std::max<std::uint64_t>(1, static_cast<std::uint64_t>(std::ceil(turn / step)));
    }

    // PM0 starts a polygon at the pen; PM1 closes a subpolygon, the next
    // point starting another; PM2 closes it and ends the polygon. A closing
    // edge is added where a subpolygon does not end at its start, drawn as
    // the pen is.
    void Polygon()
    {
        double mode = 0;
        Number(mode);
        if (mode != 0 && mode != 1 && mode != 2)
            Fail(Format("The HPGL instruction \"%1\" at %2 takes 0, 1 or 2", InstructionText(), Where(FText, FStart)));
        if (mode == 0) {
            FPolygonAt = FStart;
            FPolygonMode = true;
            FBuffer.clear();
            FNextStarts = true;
            Record(FTool, false);
            FOpen = false;
            return;
        }
        if (!FPolygonMode)
            return;
        if (!FNextStarts) {
            const Position first = FBuffer[FSubpolygon].At;
            if (!(FBuffer.back().At == first))
                Record(first, FPenDown);
            FTool = first;
        }
        FNextStarts = mode == 1;
        FPolygonMode = mode == 1;
    }

    void Record(Position p, bool down)
    {
        // The buffer's growth is held to the budget before it is made.
        if (FBuffer.size() == FBuffer.capacity()) {
            const std::size_t grown = std::max<std::size_t>(64, 2 * FBuffer.capacity());
            FSink.Vertices(grown);
            FBuffer.reserve(grown);
        }
        if (FBuffer.empty())
            FBufferScaled = false;
        FBufferScaled = FBufferScaled || FSheetScaling;
        if (FNextStarts) {
            FSubpolygon = FBuffer.size();
            FBuffer.push_back({p, false, true});
            FNextStarts = false;
        } else {
            FBuffer.push_back({p, down, false});
        }
    }

    // EP: the polygon's edges drawn with the pen down, by the current pen;
    // the pen stays where it is.
    void EdgeBuffer()
    {
        FOpen = false;
        if (!PenChosen())
            return;
        // The outline was placed by the scaling of its time, not of now.
        const bool scaling = std::exchange(FSheetScaling, FBufferScaled);
        for (std::size_t i = 1; i < FBuffer.size(); ++i)
            if (FBuffer[i].Down && !FBuffer[i].Start)
                Cut(FBuffer[i - 1].At, FBuffer[i].At);
        FSheetScaling = scaling;
        FOpen = false;
    }

    // SM draws its symbol at every point a move reaches.
    void CountSymbol()
    {
        if (PenChosen())
            ++FSymbols;
    }

    void CountFill()
    {
        if (PenChosen() && FBuffer.size() > 1)
            ++FFills;
    }

    // The polygon buffer as one closed outline through these points.
    void SetBuffer(std::span<const Position> outline)
    {
        FBuffer.clear();
        FNextStarts = true;
        Record(outline.front(), false);
        for (const Position& p : outline.subspan(1))
            Record(p, true);
    }

    // EA, ER (edged) and RA, RR (filled): a rectangle from the pen to a
    // corner, which becomes the polygon; the pen stays.
    void Rectangle(int code)
    {
        double x = 0, y = 0;
        if (!Number(x) || !Number(y))
            Fail(Format("The HPGL instruction \"%1\" at %2 needs the opposite corner", InstructionText(),
                        Where(FText, FStart)));
        const bool relative = code == Code('E', 'R') || code == Code('R', 'R');
        const Position from = User(FTool);
        const Position to = relative ? from + Position{x, y} : Position{x, y};
        const Position outline[] = {FTool, Sheet({to.X, from.Y}), Sheet(to), Sheet({from.X, to.Y}), FTool};
        SetBuffer(outline);
        if (code == Code('E', 'A') || code == Code('E', 'R'))
            EdgeBuffer();
        else
            CountFill();
    }

    // EW (edged) and WG (filled): a wedge about the pen, which becomes the
    // polygon; a whole turn is a circle without its radii.
    void Wedge(bool edge)
    {
        double r = 0, from = 0, sweep = 0, chord = 0;
        if (!Number(r) || !Number(from) || !Number(sweep))
            Fail(Format("The HPGL instruction \"%1\" at %2 needs a radius and two angles", InstructionText(),
                        Where(FText, FStart)));
        Number(chord);
        FBuffer.clear();
        const double radius = std::abs(r);
        if (radius == 0)
            return;
        const Position centre = User(FTool);
        const double start = (std::fmod(from, 360.0) + (r < 0 ? 180 : 0)) * std::numbers::pi / 180;
        const double turn = std::clamp(sweep, -360.0, 360.0) * std::numbers::pi / 180;
        const double stretch = FPlain ? 1 : FMap.Stretch();
        CheckReach(FTool, radius * stretch);
        const std::uint64_t n = Chords(radius * stretch, std::abs(turn));
        FSink.Afford((n + 3) * VertexPoints);
        std::vector<Position> outline;
        const bool whole = std::abs(turn) >= 2 * std::numbers::pi;
        if (!whole)
            outline.push_back(FTool);
        for (std::uint64_t k = 0; k <= n; ++k) {
            const double a = start + turn * double(k) / double(n);
            outline.push_back(Sheet({centre.X + radius * std::cos(a), centre.Y + radius * std::sin(a)}));
        }
        outline.push_back(whole ? outline.front() : FTool);
        SetBuffer(outline);
        if (edge)
            EdgeBuffer();
        else
            CountFill();
    }

    // Up to max numbers of the instruction; how many there were.
    int Numbers(double* v, int max)
    {
        int n = 0;
        while (n < max && Number(v[n]))
            ++n;
        return n;
    }

    // The plotter's limits in the turned coordinates RO sets.
    Position Limits() const { return FRotation == 90 || FRotation == 270 ? Position{FSheet.Y, FSheet.X} : FSheet; }

    // IP (plotter units) and IR (percentages of the limits): P1 and P2, or
    // P1 alone with P2 keeping its distance, or none for the limits' corners.
    void ScalingPoints(bool percent)
    {
        double v[4];
        const int n = Numbers(v, 4);
        if (n != 0 && n != 2 && n != 4)
            Fail(Format("The HPGL instruction \"%1\" at %2 takes two or four numbers", InstructionText(),
                        Where(FText, FStart)));
        const Position limits = Limits();
        const auto point = [&](double x, double y) {
            return percent ? Position{limits.X * x / 100, limits.Y * y / 100} : Position{x, y};
        };
        if (n == 0) {
            FP1 = {};
            FP2 = limits;
            FPointsSet = false;
        } else {
            const Position p1 = point(v[0], v[1]);
            FP2 = n == 4 ? point(v[2], v[3]) : p1 + (FP2 - FP1);
            FP1 = p1;
            FPointsSet = true;
        }
        // Points that coincide on an axis would scale it to nothing: P2
        // moves one unit, as on a plotter.
        if (FP1.X == FP2.X)
            FP2.X += 1;
        if (FP1.Y == FP2.Y)
            FP2.Y += 1;
        Remap();
    }

    // SC: Xmin, Xmax, Ymin, Ymax mapped onto P1 and P2 (type 0), the same
    // with equal units and the spare room split by Left and Bottom percent
    // (type 1), or Xmin, X factor, Ymin, Y factor from P1 (type 2); none
    // turns scaling off.
    void Scale()
    {
        double v[7];
        const int n = Numbers(v, 7);
        if (n == 0) {
            FScaling = {};
            Remap();
            return;
        }
        const std::string what = InstructionText();
        if (n != 4 && n != 5 && n != 7)
            Fail(Format("The HPGL instruction \"%1\" at %2 takes 4, 5 or 7 numbers", what, Where(FText, FStart)));
        const double type = n >= 5 ? v[4] : 0;
        if ((type != 0 && type != 1 && type != 2) || (n == 7 && type != 1))
            Fail(Format("The HPGL instruction \"%1\" at %2 has a scaling type other than those it takes", what,
                        Where(FText, FStart)));
        Scaling s;
        s.Type = static_cast<Scaling::Kind>(type);
        s.XMin = v[0], s.XMax = v[1], s.YMin = v[2], s.YMax = v[3];
        if (n == 7) {
            s.Left = v[5], s.Bottom = v[6];
            if (s.Left < 0 || s.Left > 100 || s.Bottom < 0 || s.Bottom > 100)
                Fail(Format("The HPGL instruction \"%1\" at %2 places the plot outside 0 to 100 %", what,
                            Where(FText, FStart)));
        }
        if (s.Type == Scaling::PointFactor ? (s.XMax == 0 || s.YMax == 0) : (s.XMin == s.XMax || s.YMin == s.YMax))
            Fail(Format("The HPGL instruction \"%1\" at %2 scales an axis to nothing", what, Where(FText, FStart)));
        FScaling = s;
        Remap();
    }

    // RO: the coordinates turned anticlockwise about the limits, which stay
    // in the positive quarter; P1 and P2 keep their numbers.
    void Rotate()
    {
        double angle = 0;
        Number(angle);
        if (angle != 0 && angle != 90 && angle != 180 && angle != 270)
            Fail(Format("The HPGL instruction \"%1\" at %2 turns by other than 0, 90, 180 or 270 degrees",
                        InstructionText(), Where(FText, FStart)));
        FRotation = static_cast<int>(angle);
        Remap();
    }

    // IW: only what lies in this rectangle (in the file's units) is cut.
    // It stays where it is in plotter units when scaling changes, and turns
    // with RO.
    void Window()
    {
        double v[4];
        const int n = Numbers(v, 4);
        if (n != 0 && n != 4)
            Fail(Format("The HPGL instruction \"%1\" at %2 takes four numbers", InstructionText(),
                        Where(FText, FStart)));
        FWindow = n == 4;
        if (FWindow) {
            const Position a = FScale({v[0], v[1]}), b = FScale({v[2], v[3]});
            FWindowFrom = {std::min(a.X, b.X), std::min(a.Y, b.Y)};
            FWindowTo = {std::max(a.X, b.X), std::max(a.Y, b.Y)};
        }
        Remap();
    }

    // The maps from the file's units to the sheet's plotter units.
    void Remap()
    {
        Affine scale;
        const Scaling& c = FScaling;
        if (c.Type != Scaling::Off) {
            double fx = c.XMax, fy = c.YMax, ex = 0, ey = 0;
            if (c.Type != Scaling::PointFactor) {
                fx = (FP2.X - FP1.X) / (c.XMax - c.XMin);
                fy = (FP2.Y - FP1.Y) / (c.YMax - c.YMin);
            }
            if (c.Type == Scaling::Isotropic) {
                const double f = std::min(std::abs(fx), std::abs(fy));
                fx = std::copysign(f, fx);
                fy = std::copysign(f, fy);
                ex = (FP2.X - FP1.X - fx * (c.XMax - c.XMin)) * c.Left / 100;
                ey = (FP2.Y - FP1.Y - fy * (c.YMax - c.YMin)) * c.Bottom / 100;
            }
            scale = {fx, 0, 0, fy, FP1.X + ex - c.XMin * fx, FP1.Y + ey - c.YMin * fy};
        }
        FScale = scale;
        switch (FRotation) {
        case 90: FTurn = {0, -1, 1, 0, FSheet.X, 0}; break;
        case 180: FTurn = {-1, 0, 0, -1, FSheet.X, FSheet.Y}; break;
        case 270: FTurn = {0, 1, -1, 0, 0, FSheet.Y}; break;
        default: FTurn = {};
        }
        FMap = FTurn.After(FScale);
        FPlain = c.Type == Scaling::Off && FRotation == 0;
        FSheetScaling = c.Type != Scaling::Off && c.Type != Scaling::PointFactor && !FPointsSet;
        if (FWindow) {
            const Position a = FTurn(FWindowFrom), b = FTurn(FWindowTo);
            FClipFrom = {std::min(a.X, b.X), std::min(a.Y, b.Y)};
            FClipTo = {std::max(a.X, b.X), std::max(a.Y, b.Y)};
        }
    }

    // The label's text up to its terminator, which ends the instruction.
    std::string_view ReadLabelText()
    {
        const std::size_t found = FText.find(char(FTerminator), static_cast<std::size_t>(FAt));
        const std::ptrdiff_t end = found == std::string_view::npos ? -1 : static_cast<std::ptrdiff_t>(found);
        if (end < 0)
            Fail(Format("The HPGL label \"%1\" at %2 has no terminator: the rest of the file would be its "
                        "text",
                        Quote(FStart, FStart + 2), Where(FText, FStart)));
        const std::string_view text = Slice(FAt, end - FAt);
        FAt = end + 1;
        return text;
    }

    // The pen after a label: past each character, back for a backspace, to
    // the start of the line for a carriage return, a line down for a line
    // feed, as a plotter moves it. Labels count when they print something.
    void Label(std::string_view text)
    {
        const auto [advance, line] = LabelSteps();
        Position at = FTool;
        bool printed = false;
        for (const char ch : text) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == '\b') {
                at = at - advance;
            } else if (c == '\r') {
                at = FCarriage;
            } else if (c == '\n') {
                at = at + line;
                FCarriage = FCarriage + line;
            } else if (c >= ' ' && c != 127) {
                at = at + advance;
                printed = true;
            }
        }
        if (printed && PenChosen())
            ++FLabels;
        Go(at, false);
    }

    // One character cell along the label's direction, and one line down
    // across it, in the sheet's plotter units.
    std::pair<Position, Position> LabelSteps() const
    {
        const Position span = FP2 - FP1;
        const double w = FLabel.RelativeSize ? span.X * FLabel.Width / 100 : FLabel.Width * 10 * UnitsPerMm;
        const double h = FLabel.RelativeSize ? span.Y * FLabel.Height / 100 : FLabel.Height * 10 * UnitsPerMm;
        Position dir = FLabel.RelativeDirection ? Position{FLabel.Run * span.X, FLabel.Rise * span.Y}
                                                : Position{FLabel.Run, FLabel.Rise};
        const double n = Length(dir);
        dir = n > 0 ? dir * (1 / n) : Position{1, 0};
        const double advance = w * CellWidths * (1 + FLabel.ExtraSpaces);
        const double down = h * CellHeights * (1 + FLabel.ExtraLines);
        return {FTurn.Linear(dir * advance), FTurn.Linear(Position{dir.Y, -dir.X} * down)};
    }

    // SI (cm) and SR (percent of P2 - P1): the characters' width and height.
    void LabelSize(bool relative)
    {
        double w = 0, h = 0;
        const bool given = Number(w);
        if (given && !Number(h))
            Fail(Format("The HPGL instruction \"%1\" at %2 has a width without its height", InstructionText(),
                        Where(FText, FStart)));
        FLabel.RelativeSize = relative;
        FLabel.Width = given ? w : relative ? 0.75 : DefaultCharWidthCm;
        FLabel.Height = given ? h : relative ? 1.5 : DefaultCharHeightCm;
    }

    // DI (absolute) and DR (relative to P2 - P1): the labels' direction.
    void LabelDirection(bool relative)
    {
        double run = 1, rise = 0;
        if (Number(run) && !Number(rise))
            Fail(Format("The HPGL instruction \"%1\" at %2 has a run without its rise", InstructionText(),
                        Where(FText, FStart)));
        if (run == 0 && rise == 0)
            return;
        FLabel.RelativeDirection = relative;
        FLabel.Run = run;
        FLabel.Rise = rise;
    }

    // CP: the pen moved by character cells and lines; none is a carriage
    // return and a line feed.
    void CharacterMove()
    {
        const auto [advance, line] = LabelSteps();
        double spaces = 0, lines = 0;
        if (!Number(spaces)) {
            FCarriage = FCarriage + line;
            Go(FCarriage, false);
            return;
        }
        Number(lines);
        FCarriage = FCarriage + line * lines;
        Go(FTool + advance * spaces + line * lines, false);
    }

    // DT: the character that ends labels; none is the default.
    void Terminator()
    {
        FTerminator = EndOfText;
        if (FAt < End() && Byte(FAt) != ';')
            FTerminator = Byte(FAt++);
        SkipParameters();
    }

    // The tool to p, cutting when the pen is down (and chosen); inside a
    // polygon, only kept for its outline.
    void Go(Position p, bool down)
    {
        if (FPolygonMode) {
            Record(p, down);
        } else if (!down || !PenChosen()) {
            FOpen = false;
        } else if (FOpen && !FWindow && FLast == FTool) {
            // The most common step, kept short: the polyline goes on.
            FSink.Point(ToStore(p));
            FLast = p;
            FSheetPoints = FSheetPoints || FSheetScaling;
        } else {
            Cut(FTool, p);
        }
        FTool = p;
    }

    // A cut from a to b, within the window when one is set; it goes on the
    // last polyline when that ends at a.
    void Cut(Position a, Position b)
    {
        if (FWindow) {
            const double whole = Length(b - a);
            if (!ClipToWindow(a, b)) {
                FLeftOutUnits += whole;
                FOpen = false;
                return;
            }
            FLeftOutUnits += whole - Length(b - a);
        }
        if (!FOpen || !(FLast == a)) {
            StartPolyline();
            FSink.Point(ToStore(a));
        }
        FSink.Point(ToStore(b));
        FLast = b;
        FOpen = true;
        FSheetPoints = FSheetPoints || FSheetScaling;
    }

    // Cuts a to b down to its part in the window (Liang-Barsky); false when
    // nothing is left but a point where it touches an edge.
    bool ClipToWindow(Position& a, Position& b) const
    {
        const Position d = b - a;
        double t0 = 0, t1 = 1;
        const auto edge = [&](double p, double q) {
            if (p == 0)
                return q >= 0;
            const double r = q / p;
            if (p < 0)
                t0 = std::max(t0, r);
            else
                t1 = std::min(t1, r);
            return t0 <= t1;
        };
        if (!edge(-d.X, a.X - FClipFrom.X) || !edge(d.X, FClipTo.X - a.X) || !edge(-d.Y, a.Y - FClipFrom.Y)
            || !edge(d.Y, FClipTo.Y - a.Y))
            return false;
        if (t0 == t1 && !(d == Position{}))
            return false;
        const Position start = a;
        if (t0 > 0)
            a = start + d * t0;
        if (t1 < 1)
            b = start + d * t1;
        return true;
    }

    void StartPolyline()
    {
        if (FPageAt >= 0)
            Fail(Format("The HPGL instruction \"%1\" at %2 is not supported: it starts a new sheet, and "
                        "the plot goes on after it",
                        Quote(FPageAt, FPageAt + 2), Where(FText, FPageAt)));
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
                    Where(FText, FStart)));
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
        // [sign] digits [. digits] [e [sign] digits], or [sign] . digits
        // [...], up to a separator or the instruction's end.
        const std::ptrdiff_t start = FAt;
        std::ptrdiff_t k = FAt;
        bool negative = false;
        if (k < End() && (Byte(k) == '+' || Byte(k) == '-'))
            negative = Byte(k++) == '-';
        std::uint64_t whole = 0;
        int digits = 0;
        for (; k < End() && IsDigit(Byte(k)); ++k, ++digits)
            whole = digits < 19 ? whole * 10 + (Byte(k) - '0') : whole;
        double v = digits < 19 ? double(whole) : 1e300; // too long is out of range below
        if (k < End() && Byte(k) == '.') {
            double scale = 0.1;
            for (++k; k < End() && IsDigit(Byte(k)); ++k, ++digits, scale /= 10)
                v += (Byte(k) - '0') * scale;
        }
        if (digits > 0 && k < End() && IsExponent(k)) {
            ++k;
            bool down = false;
            if (Byte(k) == '+' || Byte(k) == '-')
                down = Byte(k++) == '-';
            int exponent = 0;
            for (; k < End() && IsDigit(Byte(k)); ++k)
                exponent = std::min(exponent * 10 + (Byte(k) - '0'), 1000);
            if (v != 0)
                v *= std::pow(10.0, down ? -exponent : exponent);
        }
        FAt = k;
        if (digits == 0 || !(FAt >= End() || IsSeparator(Byte(FAt)))) {
            while (FAt < End() && !IsSeparator(Byte(FAt)))
                ++FAt;
            MalformedNumber(start, FAt);
        }
        if (!(v <= LargestNumber))
            OutOfRange();
        value = negative ? -v : v;
        return true;
    }

    // An exponent's "e" at i: followed by digits, with or without a sign.
    bool IsExponent(std::ptrdiff_t i) const
    {
        if ((Byte(i) | 0x20) != 'e')
            return false;
        std::ptrdiff_t k = i + 1;
        if (k < End() && (Byte(k) == '+' || Byte(k) == '-'))
            ++k;
        return k < End() && IsDigit(Byte(k)) && i > 0 && (IsDigit(Byte(i - 1)) || Byte(i - 1) == '.');
    }

    // What may follow a number.
    static bool IsSeparator(unsigned char c) { return IsBlank(c) || c == ',' || c == ';' || IsLetter(c) || c == 0x1B; }

    [[noreturn]] void MalformedNumber(std::ptrdiff_t from, std::ptrdiff_t to)
    {
        Fail(Format("The HPGL instruction \"%1\" at %2 has a malformed number: \"%3\"", InstructionText(),
                    Where(FText, FStart), Quote(from, to)));
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
                        Where(FText, FStart)));
        if (FAt < End() && Byte(FAt) == ';')
            ++FAt;
    }

    // Parameters of an instruction passed over: up to its end, strings in
    // double quotes taken whole, exponents of numbers included.
    void SkipParameters()
    {
        while (FAt < End() && Byte(FAt) != ';' && Byte(FAt) != 0x1B && (!IsLetter(Byte(FAt)) || IsExponent(FAt))) {
            if (Byte(FAt) == '"') {
                const std::size_t close = FText.find('"', static_cast<std::size_t>(FAt + 1));
                FAt = close == std::string_view::npos ? End() : static_cast<std::ptrdiff_t>(close);
            }
            ++FAt;
        }
        if (FAt < End() && Byte(FAt) == ';')
            ++FAt;
    }

    // Escape sequences: device control (ESC . letter [parameters :]), which
    // sets up the plotter, and commands of the printer language around
    // HP-GL/2 (ESC E, ESC % 0 B, ESC & l 1 O, ...), counted: none of it draws.
    void SkipEscape()
    {
        const std::ptrdiff_t start = FAt++;
        const auto unreadable = [&] {
            Fail(Format("The escape sequence at %1 is not one this program reads", Where(FText, start)));
        };
        if (FAt >= End())
            unreadable();
        const unsigned char kind = Byte(FAt++);
        if (kind == '.') {
            if (FAt < End()) {
                ++FAt;
                std::ptrdiff_t i = FAt;
                while (i < End() && (IsDigit(Byte(i)) || Byte(i) == ';' || IsBlank(Byte(i))))
                    ++i;
                if (i < End() && Byte(i) == ':')
                    FAt = i + 1;
            }
            return;
        }
        ++FWrappers;
        if (kind >= 0x30 && kind <= 0x7E)
            return; // two characters, as ESC E
        if (kind < 0x21 || kind > 0x2F)
            unreadable();
        // ESC, a kind, a group letter and values each ending in a letter,
        // lower case while more follow.
        unsigned char group = 0;
        if (FAt < End() && Byte(FAt) >= 0x60 && Byte(FAt) <= 0x7E)
            group = Byte(FAt++);
        for (;;) {
            if (FAt < End() && (Byte(FAt) == '+' || Byte(FAt) == '-'))
                ++FAt;
            std::ptrdiff_t value = 0;
            for (; FAt < End() && (IsDigit(Byte(FAt)) || Byte(FAt) == '.'); ++FAt)
                if (IsDigit(Byte(FAt)) && value < End())
                    value = value * 10 + (Byte(FAt) - '0');
            if (FAt >= End())
                unreadable();
            const unsigned char c = Byte(FAt++);
            if (c >= 0x60 && c <= 0x7E)
                continue;
            if (c < 0x40 || c > 0x5E)
                unreadable();
            // Data that follows (rasters, fonts, patterns, text to print
            // as it is) is no instruction. A count past the end would take
            // the rest of the file, plot and all, for its data.
            if (c == 'W' || (kind == '&' && group == 'p' && c == 'X')) {
                if (value > End() - FAt)
                    Fail(Format("The PCL command \"ESC%1\" at %2 counts more data than the file holds: the rest "
                                "of the file would be its data",
                                Quote(start + 1, FAt), Where(FText, start)));
                FAt += value;
            }
            return;
        }
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
        while (i < End() && Byte(i) != ';' && Byte(i) != 0x1B && (!IsLetter(Byte(i)) || IsExponent(i))
               && Byte(i) != '\r' && Byte(i) != '\n')
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

    [[noreturn]] void Fail(const std::string& message) const { throw EConvertError(message); }

    std::string_view FText;
    std::span<const int> FPens;
    Position FSheet; // the plotter's limits, in plotter units
    Filler& FSink;
    std::ptrdiff_t FAt = 0;    // next byte to read
    std::ptrdiff_t FStart = 0; // where the current instruction began
    std::ptrdiff_t FPageAt = -1;
    Position FTool;     // where the tool is, in the sheet's plotter units
    Position FCarriage; // where a carriage return in a label goes
    Position FLast;     // where the store's last polyline ends, when FOpen
    bool FAbsolute = true;
    bool FPenDown = false;
    bool FOpen = false;
    int FPen = 1; // files that never choose a pen are cut with the first

    // Scaling points and scaling (P1 and P2 in the turned coordinates), the
    // turn, and the maps they make; FPlain when they change nothing.
    Position FP1, FP2;
    bool FPointsSet = false;
    Scaling FScaling;
    int FRotation = 0;
    Affine FScale, FTurn, FMap;
    bool FPlain = true;

    // The input window, in the turned coordinates and on the sheet.
    bool FWindow = false;
    Position FWindowFrom, FWindowTo, FClipFrom, FClipTo;

    bool FPolygonMode = false;
    std::ptrdiff_t FPolygonAt = 0;
    std::vector<Vertex> FBuffer;
    std::size_t FSubpolygon = 0; // where the last subpolygon starts in FBuffer
    bool FNextStarts = false;    // the next vertex starts a subpolygon

    LabelStyle FLabel;
    unsigned char FTerminator = EndOfText;
    std::optional<std::string_view> FBufferedLabel;
    bool FSymbol = false;

    // For the notices.
    bool FSheetScaling = false; // scaling to the sheet's corners (SC without IP) is in force
    bool FBufferScaled = false; // the polygon buffer was placed under it
    bool FInstructions = false; // any HP-GL instruction at all, PCL and PJL aside
    bool FSheetPoints = false;  // something was cut under it
    std::uint64_t FFills = 0, FLabels = 0, FSymbols = 0, FWrappers = 0;
    double FLeftOutUnits = 0;
};

// The text as bytes: a UTF-8 mark is skipped, UTF-16 is turned into UTF-8.
// It ends at NULs that run to the end of the file; a NUL with more text
// after it is refused where it stands.
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
    const std::size_t found = data.find('\0');
    if (found == std::string_view::npos)
        return data;
    const auto nul = static_cast<std::ptrdiff_t>(found);
    if (std::ranges::any_of(data.substr(found), [](char c) { return c != '\0'; }))
        throw EConvertError(Format("Unexpected NUL byte at %1: a plot file holds text, and the text goes "
                                   "on after it",
                                   Where(data, nul)));
    return data.substr(0, found);
}

} // namespace

std::size_t HpglStoreBudget(std::int64_t FileSize)
{
    // With the file itself, a read stays under six times the file; small
    // files may still hold sizeable curves.
    return std::max<std::size_t>(5 * static_cast<std::size_t>(FileSize), std::size_t(64) * 1024 * 1024);
}

std::vector<std::string> ReadHpglData(TPLT& Store, std::string_view Data, const std::string& FileName,
                                      std::span<const int> Pens, const HpglSheet& Sheet)
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
        Parser parser(text, Pens, Sheet, filler);
        parser.Run();
        // Points alone would be sent as plunges of the knife that cut nothing.
        if (!HasLength(fresh)) {
            if (const std::string reason = parser.NothingCutReason(fresh); !reason.empty())
                throw EFileError(Format("The plot file \"%1\" has nothing to cut: %2", FileName, reason));
        }
        std::vector<std::string> notices = parser.Notices(fresh);
        fresh.Squeeze();
        fresh.SetPlotterUnits(true);
        // Only a whole read replaces the store.
        Store = std::move(fresh);
        return notices;
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory(Format("Out of memory while reading the file \"%1\"", FileName));
    }
}

bool TextGoesOnAfterNul(std::string_view Data)
{
    const auto* b = reinterpret_cast<const unsigned char*>(Data.data());
    if (Data.size() >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
        // A NUL is a unit of two zero bytes.
        std::size_t i = 2;
        while (i + 1 < Data.size() && (b[i] != 0 || b[i + 1] != 0))
            i += 2;
        return std::any_of(b + std::min(i, Data.size()), b + Data.size(), [](unsigned char c) { return c != 0; });
    }
    const std::size_t nul = Data.find('\0');
    return nul != std::string_view::npos
           && std::any_of(b + nul, b + Data.size(), [](unsigned char c) { return c != 0; });
}

std::string LeftOutAmountText(double TotalMm, double LeftOutMm)
{
    const double percent = 100 * LeftOutMm / TotalMm;
    const std::string amount = percent < 0.05    ? std::string("less than 0.1")
                               : percent > 99.95 ? std::string("more than 99.9")
                                                 : FixedNumber(percent, 1);
    return Format("%1 % of its length (%2 of %3 mm)", amount, FixedNumber(LeftOutMm, 1), FixedNumber(TotalMm, 1));
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
