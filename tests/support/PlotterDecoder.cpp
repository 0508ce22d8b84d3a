#include "tests/support/PlotterDecoder.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

struct Malformed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The tool's path: where it is, whether it is down, what it has cut.
class Tool {
public:
    explicit Tool(double mmPerUnit) : FMmPerUnit(mmPerUnit) {}
    void SetUnit(double mmPerUnit) { FMmPerUnit = mmPerUnit; }
    void Lift() { FDown = false; }
    void Lower()
    {
        if (!FDown)
            FPaths.push_back({FAt});
        FDown = true;
    }
    // To a position in plotter units, absolute or from where the tool is.
    void Go(double x, double y, bool relative)
    {
        FAt = relative ? FAt + QPointF(x * FMmPerUnit, y * FMmPerUnit) : QPointF(x * FMmPerUnit, y * FMmPerUnit);
        if (FDown)
            FPaths.back().push_back(FAt);
    }
    bool Down() const { return FDown; }
    std::vector<std::vector<QPointF>> Paths() && { return std::move(FPaths); }
    void Setting(char what, double value) { FSettings.push_back({FPaths.size(), what, value}); }
    std::vector<DecodedTool> Settings() const { return FSettings; }

private:
    double FMmPerUnit;
    QPointF FAt;
    bool FDown = false;
    std::vector<std::vector<QPointF>> FPaths;
    std::vector<DecodedTool> FSettings;
};

// The paths, and the force and speed instructions when asked for.
std::vector<std::vector<QPointF>> Done(Tool& tool, std::vector<DecodedTool>* tools)
{
    if (tools)
        *tools = tool.Settings();
    return std::move(tool).Paths();
}

class Scanner {
public:
    Scanner(const char* language, const QByteArray& text) : FLanguage(language), FText(text) {}

    bool AtEnd() const { return FPos >= FText.size(); }
    char Peek() const { return AtEnd() ? '\0' : FText[FPos]; }
    char Next() { return AtEnd() ? '\0' : FText[FPos++]; }
    qsizetype Pos() const { return FPos; }
    void SkipAny(const char* set)
    {
        while (!AtEnd() && std::strchr(set, FText[FPos]) && FText[FPos] != '\0')
            ++FPos;
    }
    bool Take(char c)
    {
        if (Peek() != c || AtEnd())
            return false;
        ++FPos;
        return true;
    }
    bool AtNumber() const
    {
        const char c = Peek();
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '.')
            return true;
        if ((c == '-' || c == '+') && FPos + 1 < FText.size())
            return std::isdigit(static_cast<unsigned char>(FText[FPos + 1])) || FText[FPos + 1] == '.';
        return false;
    }
    double Number()
    {
        const qsizetype start = FPos;
        if (Peek() == '-' || Peek() == '+')
            ++FPos;
        bool digits = false;
        while (std::isdigit(static_cast<unsigned char>(Peek()))) {
            ++FPos;
            digits = true;
        }
        if (Take('.'))
            while (std::isdigit(static_cast<unsigned char>(Peek()))) {
                ++FPos;
                digits = true;
            }
        if (!digits)
            Fail(start, "a number expected");
        return FText.mid(start, FPos - start).toDouble();
    }
    // Numbers separated by commas and the given blanks, up to anything else.
    std::vector<double> Numbers(const char* blanks)
    {
        std::vector<double> v;
        for (;;) {
            const qsizetype mark = FPos;
            SkipAny(blanks);
            if (!v.empty()) {
                if (!Take(',') && !AtNumber()) {
                    FPos = mark;
                    break;
                }
                SkipAny(blanks);
            }
            if (!AtNumber()) {
                // A trailing comma before the next instruction is allowed.
                if (v.empty())
                    FPos = mark;
                break;
            }
            v.push_back(Number());
        }
        return v;
    }
    [[noreturn]] void Fail(qsizetype at, const std::string& what) const
    {
        throw Malformed(std::string(FLanguage) + ": " + what + " at byte " + std::to_string(at));
    }

private:
    const char* FLanguage;
    const QByteArray& FText;
    qsizetype FPos = 0;
};

void GoThrough(Scanner& s, Tool& tool, const std::vector<double>& v, qsizetype at, bool relative)
{
    if (v.size() % 2 != 0)
        s.Fail(at, "an odd number of coordinates");
    for (size_t i = 0; i < v.size(); i += 2)
        tool.Go(v[i], v[i + 1], relative);
}

constexpr const char* Blanks = " \t\r\n";

std::vector<std::vector<QPointF>> Hpgl(const QByteArray& job, std::vector<DecodedTool>* tools)
{
    Scanner s("HP-GL", job);
    Tool tool(1.0 / 40.0);
    bool relative = false, initialized = false;
    int pen = 0;
    for (;;) {
        s.SkipAny(" \t\r\n;");
        if (s.AtEnd())
            break;
        const qsizetype at = s.Pos();
        const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(s.Next())));
        const char b = static_cast<char>(std::toupper(static_cast<unsigned char>(s.Next())));
        const std::string op{a, b};
        if (!std::isalpha(static_cast<unsigned char>(a)) || !std::isalpha(static_cast<unsigned char>(b)))
            s.Fail(at, "an instruction expected");
        const std::vector<double> v = s.Numbers(Blanks);
        s.SkipAny(" \t\r\n");
        if (!s.AtEnd() && s.Peek() != ';' && !std::isalpha(static_cast<unsigned char>(s.Peek())))
            s.Fail(s.Pos(), "unexpected \"" + std::string(1, s.Peek()) + "\" in " + op);
        if (!initialized && op != "IN")
            s.Fail(at, "the job does not begin with IN");
        if (op == "IN" || op == "DF") {
            if (!v.empty())
                s.Fail(at, op + " takes no parameters");
            initialized = true;
            relative = false;
            tool.Lift();
            if (op == "IN")
                pen = 0;
        } else if (op == "SP") {
            if (v.size() > 1)
                s.Fail(at, "SP takes one pen number");
            pen = v.empty() ? 0 : static_cast<int>(v[0]);
        } else if (op == "PU" || op == "PD") {
            if (op == "PU") {
                tool.Lift();
            } else {
                if (pen == 0)
                    s.Fail(at, "PD with no pen selected");
                tool.Lower();
            }
            GoThrough(s, tool, v, at, relative);
        } else if (op == "PA" || op == "PR") {
            relative = op == "PR";
            GoThrough(s, tool, v, at, relative);
        } else if (op == "FS" || op == "VS") {
            // A value, then the pen it is for (all pens without it).
            if (v.empty() || v.size() > 2)
                s.Fail(at, op + " takes a value and an optional pen");
            if (tool.Down())
                s.Fail(at, op + " while the tool is down");
            tool.Setting(op == "FS" ? 'F' : 'S', v[0]);
        } else {
            s.Fail(at, "unknown instruction \"" + op + "\"");
        }
    }
    if (tool.Down())
        s.Fail(job.size(), "the job ends with the tool down");
    return Done(tool, tools);
}

std::vector<std::vector<QPointF>> Dmpl(const QByteArray& job, std::vector<DecodedTool>* tools)
{
    Scanner s("DM/PL", job);
    s.SkipAny(Blanks);
    if (!s.Take(';') || !s.Take(':'))
        s.Fail(s.Pos(), "the job does not begin with \";:\"");
    Tool tool(0);
    bool unitSet = false, relative = false, ended = false;
    while (!ended) {
        s.SkipAny(" \t\r\n,");
        if (s.AtEnd())
            s.Fail(s.Pos(), "the job does not end with \"@\"");
        const qsizetype at = s.Pos();
        if (s.AtNumber()) {
            if (!unitSet)
                s.Fail(at, "coordinates before the unit is set (EC)");
            GoThrough(s, tool, s.Numbers(Blanks), at, relative);
            continue;
        }
        switch (s.Next()) {
        case 'H':
            tool.Lift();
            tool.Go(0, 0, false);
            break;
        case 'A': relative = false; break;
        case 'R': relative = true; break;
        case 'U': tool.Lift(); break;
        case 'D': tool.Lower(); break;
        case '@': ended = true; break;
        case 'P':
        case 'L':
            s.SkipAny(" ");
            s.Number();
            break;
        case 'V':
            if (tool.Down())
                s.Fail(at, "V while the tool is down");
            s.SkipAny(" ");
            tool.Setting('S', s.Number());
            break;
        case 'B':
            if (!s.Take('P'))
                s.Fail(at, "unknown instruction");
            if (tool.Down())
                s.Fail(at, "BP while the tool is down");
            s.SkipAny(" ");
            tool.Setting('F', s.Number());
            break;
        case 'E':
            if (!s.Take('C'))
                s.Fail(at, "unknown instruction");
            switch (s.Next()) {
            case '1': tool.SetUnit(0.0254); break;
            case '5': tool.SetUnit(0.127); break;
            case 'M': tool.SetUnit(0.1); break;
            default: s.Fail(at, "unknown unit in EC");
            }
            unitSet = true;
            break;
        default: s.Fail(at, "unknown instruction \"" + std::string(1, job[at]) + "\"");
        }
    }
    s.SkipAny(Blanks);
    if (!s.AtEnd())
        s.Fail(s.Pos(), "bytes after the closing \"@\"");
    if (tool.Down())
        s.Fail(job.size(), "the job ends with the tool down");
    return Done(tool, tools);
}

// GP-GL and CAMM-GL I mode 1 share their drawing instructions; GP-GL adds
// ! (speed) and FX (force).
std::vector<std::vector<QPointF>> MoveCut(const char* language, const QByteArray& job, double unitsPerMm,
                                          const char* terminators, const char* others, bool gpgl,
                                          std::vector<DecodedTool>* tools)
{
    Scanner s(language, job);
    Tool tool(1.0 / unitsPerMm);
    for (;;) {
        s.SkipAny(terminators);
        if (s.AtEnd())
            break;
        const qsizetype at = s.Pos();
        const char op = s.Next();
        const bool force = gpgl && op == 'F' && s.Take('X');
        const std::vector<double> v = s.Numbers(" ");
        s.Take(',');
        if (!s.AtEnd() && !std::strchr(terminators, s.Peek()) && !std::isalpha(static_cast<unsigned char>(s.Peek())))
            s.Fail(s.Pos(), std::string("unexpected \"") + s.Peek() + "\" after " + op);
        if (force || (gpgl && op == '!')) {
            // A value, then the pen it is for.
            if (v.empty() || v.size() > 2)
                s.Fail(at, std::string(force ? "FX" : "!") + " takes a value and an optional pen");
            if (tool.Down())
                s.Fail(at, std::string(force ? "FX" : "!") + " while the tool is down");
            tool.Setting(force ? 'F' : 'S', v[0]);
        } else if (op == 'H') {
            if (!v.empty())
                s.Fail(at, "H takes no parameters");
            tool.Lift();
            tool.Go(0, 0, false);
        } else if (op == 'M' || op == 'D') {
            if (v.empty())
                s.Fail(at, std::string(1, op) + " without coordinates");
            if (op == 'M')
                tool.Lift();
            else
                tool.Lower();
            GoThrough(s, tool, v, at, false);
        } else if (!std::strchr(others, op) || op == '\0') {
            s.Fail(at, "unknown instruction \"" + std::string(1, op) + "\"");
        }
    }
    if (tool.Down())
        s.Fail(job.size(), "the job ends with the tool down");
    return Done(tool, tools);
}

} // namespace

double PlotterUnitsPerMm(SendAs language)
{
    switch (language) {
    case SendAs::HPGL: return 40.0;
    case SendAs::DMPL: return 1.0 / 0.0254;
    case SendAs::GPGL: return 20.0;
    case SendAs::CAMMGL: return 40.0;
    case SendAs::Driver: break;
    }
    return 0;
}

std::vector<std::vector<QPointF>> DecodePlotterJob(SendAs language, const QByteArray& job, QString* error,
                                                   std::vector<DecodedTool>* tools)
{
    if (tools)
        tools->clear();
    try {
        switch (language) {
        case SendAs::HPGL: return Hpgl(job, tools);
        case SendAs::DMPL: return Dmpl(job, tools);
        // J pen and : clear take their numbers as parameters above.
        case SendAs::GPGL: return MoveCut("GP-GL", job, 20.0, "\x03\r\n", "J:", true, tools);
        case SendAs::CAMMGL: return MoveCut("CAMM-GL", job, 40.0, "\r\n", "", false, tools);
        case SendAs::Driver: throw Malformed("a driver job is not in a cutter language");
        }
        throw Malformed("unknown language");
    } catch (const Malformed& e) {
        if (error)
            *error = QString::fromStdString(e.what());
        return {};
    }
}
