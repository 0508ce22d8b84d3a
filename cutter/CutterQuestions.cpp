#include "cutter/CutterQuestions.h"

#include "common/Text.h"
#include "cutter/CutterLanguage.h"

#include <algorithm>
#include <charconv>

namespace {

// Where each question and its answer are documented:
// - HP-GL, HP 7475A Interfacing and Programming Manual (and the 7550A's,
//   which keeps them): the device-control instructions, ESC "." and a
//   letter, read by the interface as they arrive, ahead of the buffer:
//     ESC.B "Output Buffer Space": the free bytes of the buffer, a decimal
//       integer;
//     ESC.L "Output Buffer Size When Empty": the buffer's size (1024 on the
//       7475A), a decimal integer;
//     ESC.O "Output Extended Status": a decimal integer, 8 the buffer
//       empty, 16 VIEW pressed (plotting held), 32 the paper lever raised
//       (not ready), summed;
//     ESC.E "Output Extended Error": a decimal code (table below), cleared
//       by the asking.
//   And the output instructions, read in turn from the buffer:
//     OI "Output Identification": the model, as text ("7475A");
//     OS "Output Status": a decimal integer of the bits below;
//     OE "Output Error": a decimal code (table below), cleared by the asking.
//   Every answer ends with the output terminator, CR until ESC.M sets
//   another; the program never sets one.
// - CAMM-GL, Roland's device-control instructions for its CAMM-GL I
//   cutters (CAMM-3 PNC-300 and PNC-900 manuals, "List of device control
//   instructions"): ESC.B the remaining buffer capacity, ESC.L the I/O
//   buffer size (given only when the buffer is empty), ESC.O the status
//   word (0 data in the buffer, 8 empty, 16 and 24 the same paused), ESC.E
//   the RS-232C error code, cleared by the asking; answers end with CR, the
//   default output terminator of ESC.M. Mode 1 has no OI, OS or OE.
// - DM/PL and GP-GL: Houston Instrument's DM/PL has no question in its
//   manuals; Graphtec's status words (V, @, #) come without a documented
//   meaning we could cite, so neither language is asked anything.
struct Question {
    SendAs Language;
    CutterQuestion Asks;
    std::string_view Bytes;
    std::string_view Instruction;
};

constexpr std::string_view EscB = "\x1b.B", EscL = "\x1b.L", EscO = "\x1b.O", EscE = "\x1b.E";

constexpr Question Questions[] = {
    {SendAs::HPGL, CutterQuestion::BufferSize, EscL, "ESC.L"},
    {SendAs::HPGL, CutterQuestion::FreeSpace, EscB, "ESC.B"},
    {SendAs::HPGL, CutterQuestion::Status, EscO, "ESC.O"},
    {SendAs::HPGL, CutterQuestion::Error, EscE, "ESC.E"},
    {SendAs::HPGL, CutterQuestion::Model, "OI;", "OI"},
    {SendAs::HPGL, CutterQuestion::PlotStatus, "OS;", "OS"},
    {SendAs::HPGL, CutterQuestion::PlotError, "OE;", "OE"},
    {SendAs::CAMMGL, CutterQuestion::BufferSize, EscL, "ESC.L"},
    {SendAs::CAMMGL, CutterQuestion::FreeSpace, EscB, "ESC.B"},
    {SendAs::CAMMGL, CutterQuestion::Status, EscO, "ESC.O"},
    {SendAs::CAMMGL, CutterQuestion::Error, EscE, "ESC.E"},
};

struct Meaning {
    std::int64_t Value;
    std::string_view Text;
    bool Error;
};

// ESC.O, bits: HP 7475A (Roland's status word has the first two).
constexpr Meaning StatusBits[] = {
    {8, "the buffer is empty", false},
    {16, "plotting is held (VIEW or pause)", false},
    {32, "the paper lever is raised: the cutter is not ready", true},
};

// ESC.E, codes: HP 7475A, "Output Extended Error".
constexpr Meaning InterfaceErrors[] = {
    {10, "an output instruction came while another was being answered", true},
    {11, "a byte after ESC. was not a device-control instruction", true},
    {12, "a device-control instruction had a wrong byte in its parameters", true},
    {13, "a device-control parameter was out of range", true},
    {14, "a device-control instruction had too many parameters", true},
    {15, "the cutter received bytes with framing, parity or overrun errors", true},
    {16, "the cutter's buffer overflowed: bytes of a job were lost", true},
};

// OS, bits: HP 7475A, "Output Status".
constexpr Meaning PlotStatusBits[] = {
    {1, "the pen (knife) is down", false},
    {2, "P1 or P2 changed", false},
    {4, "a digitized point is ready", false},
    {8, "initialized", false},
    {16, "ready for data", false},
    {32, "an instruction error is waiting (OE)", true},
    {64, "service request", false},
};

// OE, codes: HP 7475A, "Output Error".
constexpr Meaning PlotErrors[] = {
    {1, "an instruction was not recognized", true},
    {2, "an instruction had the wrong number of parameters", true},
    {3, "an instruction had a parameter out of range", true},
    {4, "an unknown character", true},
    {5, "an unknown character set", true},
    {6, "a position overflowed the plotter's range", true},
};

// Longest number any of these answers has; more digits are noise.
constexpr std::size_t MaxDigits = 9;

// Longer than any answer in the manuals.
constexpr std::size_t LongestAnswer = 256;

const Question* Find(SendAs language, CutterQuestion question)
{
    for (const Question& each : Questions)
        if (each.Language == language && each.Asks == question)
            return &each;
    return nullptr;
}

bool Garbled(std::string_view bytes)
{
    return std::any_of(bytes.begin(), bytes.end(), [](char c) { return (static_cast<unsigned char>(c) & 0x80) != 0; });
}

// Blanks and line ends around an answer: some cutters add LF after the CR,
// which arrives as the first byte of the next answer.
std::string_view AnswerText(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\r' || c == '\n' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool IsNumberAnswer(CutterQuestion question)
{
    return question != CutterQuestion::Model;
}

void WrongShape(CutterAnswer& answer, std::string problem)
{
    answer.Shape = CutterAnswer::Kind::WrongShape;
    answer.Problem = std::move(problem);
    answer.Number.reset();
    answer.Model.clear();
    answer.Meanings.clear();
    answer.Errors.clear();
    answer.ErrorSet = false;
}

void AddBits(CutterAnswer& answer, const Meaning* bits, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        if ((*answer.Number & bits[i].Value) != 0) {
            answer.Meanings.emplace_back(bits[i].Text);
            if (bits[i].Error)
                answer.Errors.emplace_back(bits[i].Text);
        }
}

void AddCode(CutterAnswer& answer, const Meaning* codes, std::size_t count)
{
    if (*answer.Number == 0) {
        answer.Meanings.emplace_back("no error");
        return;
    }
    std::string text = Format("error %1, which the manual does not list", *answer.Number);
    for (std::size_t i = 0; i < count; ++i)
        if (codes[i].Value == *answer.Number)
            text = codes[i].Text;
    answer.Meanings.push_back(text);
    answer.Errors.push_back(text);
}

std::string SeenBytes(std::string_view bytes)
{
    std::string seen;
    for (const char c : bytes.substr(0, 16)) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7f)
            seen += c;
        else
            seen += Format("<%1>", static_cast<int>(b));
    }
    return bytes.size() > 16 ? seen + "..." : seen;
}

std::string Bullet(const std::vector<std::string>& meanings)
{
    std::string text;
    for (const std::string& each : meanings)
        text += (text.empty() ? "" : "; ") + each;
    return text;
}

} // namespace

bool CutterReplyReader::Take(std::string_view bytes)
{
    constexpr char XON = 0x11, XOFF = 0x13;
    for (const char c : bytes) {
        if (Reply.Ended)
            break;
        if (c == XON || c == XOFF)
            continue;
        if (c == FTerminator && Reply.Bytes.find_first_not_of("\r\n") == std::string::npos)
            Reply.Bytes.clear();
        else if (c == FTerminator)
            Reply.Ended = true;
        else
            Reply.Bytes += c;
        FNoisy = FNoisy || Garbled(std::string_view(&c, 1));
    }
    return Reply.Ended || Reply.Bytes.size() > LongestAnswer;
}

std::optional<CutterAsk> QuestionIn(SendAs language, CutterQuestion question)
{
    const Question* found = Find(language, question);
    if (!found)
        return std::nullopt;
    return CutterAsk{std::string(found->Bytes), '\r', found->Instruction};
}

bool AnswersQuestions(SendAs language)
{
    return std::any_of(std::begin(Questions), std::end(Questions),
                       [language](const Question& q) { return q.Language == language; });
}

std::string_view QuestionName(CutterQuestion question)
{
    switch (question) {
    case CutterQuestion::Model: return "model";
    case CutterQuestion::BufferSize: return "buffer size";
    case CutterQuestion::FreeSpace: return "free buffer space";
    case CutterQuestion::Status: return "status";
    case CutterQuestion::Error: return "last line error";
    case CutterQuestion::PlotStatus: return "plot status";
    case CutterQuestion::PlotError: return "last instruction error";
    }
    return "question";
}

CutterAnswer ReadAnswer(SendAs language, CutterQuestion question, const CutterReply& reply)
{
    CutterAnswer answer;
    answer.Question = question;
    answer.Raw = reply.Bytes;
    if (!Find(language, question))
        return answer;
    if (reply.Bytes.empty() && !reply.Ended && !reply.LineFault) {
        answer.Shape = CutterAnswer::Kind::NoAnswer;
        return answer;
    }
    answer.Shape = CutterAnswer::Kind::Fine;
    if (reply.LineFault)
        return WrongShape(answer, "the port saw framing or parity errors in it"), answer;
    if (Garbled(reply.Bytes))
        return WrongShape(answer, Format("its bytes are garbled (%1)", SeenBytes(reply.Bytes))), answer;
    if (!reply.Ended)
        return WrongShape(answer, Format("it did not end (%1 came, no CR)", Quoted(SeenBytes(reply.Bytes)))), answer;
    const std::string_view text = AnswerText(reply.Bytes);
    if (!IsNumberAnswer(question)) {
        const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
        if (text.empty() || !printable)
            return WrongShape(answer, Format("%1 is not a model's name", Quoted(SeenBytes(reply.Bytes)))), answer;
        answer.Model = std::string(text);
        return answer;
    }
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || text.size() > MaxDigits || error != std::errc() || end != text.data() + text.size()
        || number < 0)
        return WrongShape(answer, Format("%1 is not a number", Quoted(SeenBytes(reply.Bytes)))), answer;
    answer.Number = number;
    switch (question) {
    case CutterQuestion::Status: AddBits(answer, StatusBits, std::size(StatusBits)); break;
    case CutterQuestion::Error: AddCode(answer, InterfaceErrors, std::size(InterfaceErrors)); break;
    case CutterQuestion::PlotStatus: AddBits(answer, PlotStatusBits, std::size(PlotStatusBits)); break;
    case CutterQuestion::PlotError: AddCode(answer, PlotErrors, std::size(PlotErrors)); break;
    case CutterQuestion::BufferSize:
    case CutterQuestion::FreeSpace: answer.Meanings.push_back(Format("%1 bytes", number)); break;
    case CutterQuestion::Model: break;
    }
    answer.ErrorSet = !answer.Errors.empty();
    return answer;
}

std::vector<CutterAnswer> AskAll(SendAs language, const CutterAsker& ask, bool stopWhenSilent)
{
    std::vector<CutterAnswer> answers;
    bool asked = false;
    for (const CutterQuestion question : AllCutterQuestions) {
        const std::optional<CutterAsk> bytes = QuestionIn(language, question);
        if (!bytes) {
            answers.push_back(ReadAnswer(language, question, {}));
            continue;
        }
        const CutterReply reply = ask(*bytes);
        answers.push_back(ReadAnswer(language, question, reply));
        const CutterAnswer& last = answers.back();
        const bool first = !asked;
        asked = true;
        if (reply.Lost)
            break;
        if (stopWhenSilent
            && (last.Shape == CutterAnswer::Kind::WrongShape || (first && last.Shape == CutterAnswer::Kind::NoAnswer)))
            break;
    }
    return answers;
}

std::int64_t FirstBlockBytes(FlowControl flow, std::int64_t jobBytes)
{
    return flow == FlowControl::None ? jobBytes : 0;
}

LineCheck JudgeLine(SendAs language, const std::vector<CutterAnswer>& answers, const std::string& port,
                    const PortSettings& line, std::int64_t firstBlock)
{
    const std::string name = '"' + Quoted(port) + '"';
    if (!AnswersQuestions(language))
        return {LineVerdict::CannotAsk,
                Format("%1 has no question a cutter answers, so the line to %2 cannot be checked: cut the sample "
                       "and look at it",
                       LanguageName(language), name)};
    using Kind = CutterAnswer::Kind;
    const auto shaped = [&](Kind kind) {
        return std::find_if(answers.begin(), answers.end(), [kind](const CutterAnswer& a) { return a.Shape == kind; });
    };
    if (const auto wrong = shaped(Kind::WrongShape); wrong != answers.end())
        return {LineVerdict::WrongShape,
                Format("The cutter on %1 answers %2 in the wrong shape (%3): its speed, data bits or parity "
                       "differ from the port's %4; set the port as the cutter's panel shows",
                       name, QuestionIn(language, wrong->Question)->Instruction, wrong->Problem,
                       PortSettingsText(line))};
    if (shaped(Kind::Fine) == answers.end())
        return {LineVerdict::NoAnswer,
                Format("The cutter on %1 did not answer at all: check the cable and the port, that the cutter is "
                       "switched on and on line, and that it is one that talks back",
                       name)};
    for (const CutterAnswer& each : answers) {
        if (!each.ErrorSet)
            continue;
        const std::string what = Bullet(each.Errors);
        if (each.Question == CutterQuestion::Error && each.Number == 15)
            return {LineVerdict::ErrorSet,
                    Format("The cutter on %1 reports that %2: its speed, data bits or parity differ from the "
                           "port's %3; set both the same",
                           name, what, PortSettingsText(line))};
        if (each.Question == CutterQuestion::Error && each.Number == 16)
            return {LineVerdict::ErrorSet,
                    Format("The cutter on %1 reports that %2: choose a flow control (XON/XOFF, RTS/CTS or ask the "
                           "cutter) so the sender waits for it",
                           name, what)};
        return {LineVerdict::ErrorSet,
                Format("The cutter on %1 reports an error (%2, %3): clear it on the cutter, then check again", name,
                       QuestionIn(language, each.Question)->Instruction, what)};
    }
    // The size when the cutter gave it, else its free space (no larger).
    std::optional<std::int64_t> holds;
    for (const CutterAnswer& each : answers)
        if (each.Number
            && (each.Question == CutterQuestion::BufferSize || (each.Question == CutterQuestion::FreeSpace && !holds)))
            holds = each.Number;
    if (holds && firstBlock > *holds)
        return {LineVerdict::BufferTooSmall,
                Format("The cutter on %1 holds %2 bytes, fewer than the %3 bytes of the sample's job, and no flow "
                       "control is chosen: its cuts would come out short. Choose XON/XOFF, RTS/CTS or ask the cutter",
                       name, *holds, firstBlock)};
    std::string model;
    for (const CutterAnswer& each : answers)
        if (each.Question == CutterQuestion::Model && !each.Model.empty())
            model = Format(" (%1)", each.Model);
    return {LineVerdict::Sound,
            Format("The line to %1 is sound: the cutter%2 answers in shape and reports no error", name, model)};
}
