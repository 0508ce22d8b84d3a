#pragma once

// The questions a cutter answers in its own language (its model, its
// buffer, its status and its last error), what each answer means, and what
// the answers say of the line to it. Plain values and text only: asking on
// a port is platform/ work (AskCutter).

#include "cutter/DeviceSettings.h"
#include "cutter/PortSettings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class CutterQuestion {
    Model,      // HP-GL OI
    BufferSize, // ESC.L: the whole buffer, in bytes
    FreeSpace,  // ESC.B: the buffer's free bytes now
    Status,     // ESC.O: the extended status
    Error,      // ESC.E: the extended (interface) error, cleared by asking
    PlotStatus, // HP-GL OS
    PlotError,  // HP-GL OE: the last instruction error, cleared by asking
};

// Every question, in the order they are asked: the device-control ones
// first, answered at once (ESC.B before all: a Roland answers ESC.L only
// with its buffer empty), then those the cutter reads in turn from its
// buffer.
inline constexpr CutterQuestion AllCutterQuestions[] = {
    CutterQuestion::FreeSpace, CutterQuestion::BufferSize, CutterQuestion::Status,    CutterQuestion::Error,
    CutterQuestion::Model,     CutterQuestion::PlotStatus, CutterQuestion::PlotError,
};

// What is sent for a question and how its answer ends.
struct CutterAsk {
    std::string Bytes;
    char Terminator = '\r';
    std::string_view Instruction; // for the user: "ESC.B", "OI"
};

// The question in the language; nullopt where the language has none (it is
// then said, never sent).
std::optional<CutterAsk> QuestionIn(SendAs language, CutterQuestion question);
// Whether the language has any question at all.
bool AnswersQuestions(SendAs language);
// For the user: "model", "buffer size", "free buffer space", ...
std::string_view QuestionName(CutterQuestion question);

// What came back from the port for one question.
struct CutterReply {
    std::string Bytes;      // up to the terminator, without it (XON and XOFF left out)
    bool Ended = false;     // the terminator came within the limit
    bool LineFault = false; // the port saw framing, parity or overrun errors meanwhile
    bool Lost = false;      // the port went away (unplugged, hung up)
};

// Builds a reply from the bytes a port reads, as they come: XON and XOFF
// are left out, and a terminator before any answer byte (the line end of an
// earlier answer) is passed over.
class CutterReplyReader {
public:
    explicit CutterReplyReader(char terminator) : FTerminator(terminator) {}
    // True once the answer is complete: its terminator came, or it grew
    // longer than any answer (a line at the wrong speed streams noise).
    bool Take(std::string_view bytes);
    // A byte with the high bit set came: the answer is garbled whatever
    // follows, so the wait for it may end once the line falls quiet.
    bool Noisy() const { return FNoisy; }
    CutterReply Reply;

private:
    char FTerminator;
    bool FNoisy = false;
};

struct CutterAnswer {
    enum class Kind {
        Missing,    // the language has no such question: not sent
        NoAnswer,   // nothing came within the limit
        WrongShape, // garbled, unended, or not what the question answers
        Fine,
    };
    CutterQuestion Question = CutterQuestion::Model;
    Kind Shape = Kind::Missing;
    std::string Raw;                    // the bytes that came
    std::optional<std::int64_t> Number; // the number answered (all but the model)
    std::string Model;                  // the model's text (OI)
    std::vector<std::string> Meanings;  // what the set bits or the code say, for the user
    std::vector<std::string> Errors;    // those of the meanings that are errors
    bool ErrorSet = false;              // the answer reports an error or a cutter not ready
    std::string Problem;                // WrongShape: what is wrong with it, for the user
};

// Reads a reply as the answer to the question in the language.
CutterAnswer ReadAnswer(SendAs language, CutterQuestion question, const CutterReply& reply);

// The language's questions, each put to ask (which sends the bytes and waits
// for the terminator within the port's limit). With stopWhenSilent, asking
// ends once the first question had no answer at all or any answer came
// garbled: the line is judged by then, and each further question would only
// wait out its limit. Missing questions come back as Missing.
using CutterAsker = std::function<CutterReply(const CutterAsk&)>;
std::vector<CutterAnswer> AskAll(SendAs language, const CutterAsker& ask, bool stopWhenSilent);

// What the answers say of the line: one verdict, one sentence for the user.
enum class LineVerdict { Sound, NoAnswer, WrongShape, ErrorSet, BufferTooSmall, CannotAsk };
struct LineCheck {
    LineVerdict Verdict = LineVerdict::Sound;
    std::string Sentence;
};
// port names the port in the sentence; line is what the port is set to;
// firstBlock is the bytes of the sample's job the cutter must hold before it
// has any say (FirstBlockBytes), 0 for no such judgement.
LineCheck JudgeLine(SendAs language, const std::vector<CutterAnswer>& answers, const std::string& port,
                    const PortSettings& line, std::int64_t firstBlock);

// The bytes of a job the cutter must hold before it can slow the sender: all
// of it with no flow control; 0 (nothing to judge) with any.
std::int64_t FirstBlockBytes(FlowControl flow, std::int64_t jobBytes);
