// The cutter's answers as the program reads them, hostile ones included,
// and the one sentence the answers make of the line: the same decision for
// the command line and both windows, so the same program runs under Wine.

#include "cutter/CutterQuestions.h"
#include "output/LineCheck.h"

#include <doctest/doctest.h>

#include <map>

namespace {

using Kind = CutterAnswer::Kind;
using Q = CutterQuestion;

CutterReply Ended(std::string bytes)
{
    return {std::move(bytes), true, false, false};
}

CutterReply Unended(std::string bytes)
{
    return {std::move(bytes), false, false, false};
}

// What a cutter says, question by question, for AskAll.
struct Script {
    std::map<std::string, CutterReply> Replies;
    std::vector<std::string> Asked;
    CutterReply operator()(const CutterAsk& ask)
    {
        Asked.push_back(ask.Bytes);
        const auto found = Replies.find(ask.Bytes);
        return found == Replies.end() ? CutterReply{} : found->second;
    }
};

std::map<std::string, CutterReply> Healthy(std::int64_t buffer)
{
    return {{"\x1b.L", Ended(std::to_string(buffer))},
            {"\x1b.B", Ended(std::to_string(buffer))},
            {"\x1b.O", Ended("8")},
            {"\x1b.E", Ended("0")},
            {"OI;", Ended("7475A")},
            {"OS;", Ended("24")},
            {"OE;", Ended("0")}};
}

std::vector<CutterAnswer> Answers(SendAs language, std::map<std::string, CutterReply> replies)
{
    Script script{std::move(replies), {}};
    return AskAll(language, std::ref(script), true);
}

PortSettings NoFlow()
{
    PortSettings line;
    line.Flow = FlowControl::None;
    return line;
}

} // namespace

TEST_CASE("answers are read by their question's shape, and hostile ones are never taken for good ones")
{
    struct Row {
        const char* Name;
        SendAs Language;
        Q Question;
        CutterReply Reply;
        Kind Shape;
        std::optional<std::int64_t> Number;
        bool ErrorSet;
        const char* Said; // in the meanings, the model or the problem
    };
    const Row rows[] = {
        {"a buffer size", SendAs::HPGL, Q::BufferSize, Ended("1024"), Kind::Fine, 1024, false, "1024 bytes"},
        {"blanks and a line feed around it", SendAs::HPGL, Q::FreeSpace, Ended("\n 512 "), Kind::Fine, 512, false,
         "512 bytes"},
        {"no terminator within the limit",
         SendAs::HPGL,
         Q::BufferSize,
         Unended("1024"),
         Kind::WrongShape,
         {},
         false,
         "did not end"},
        {"an empty answer", SendAs::HPGL, Q::FreeSpace, Ended(""), Kind::WrongShape, {}, false, "is not a number"},
        {"a negative number", SendAs::HPGL, Q::FreeSpace, Ended("-5"), Kind::WrongShape, {}, false, "is not a number"},
        {"letters after the digits",
         SendAs::HPGL,
         Q::BufferSize,
         Ended("12a"),
         Kind::WrongShape,
         {},
         false,
         "is not a number"},
        {"a thousands separator",
         SendAs::HPGL,
         Q::BufferSize,
         Ended("1,024"),
         Kind::WrongShape,
         {},
         false,
         "is not a number"},
        {"more digits than any buffer",
         SendAs::HPGL,
         Q::BufferSize,
         Ended("99999999999999999999"),
         Kind::WrongShape,
         {},
         false,
         "is not a number"},
        {"high bit set (the wrong speed)",
         SendAs::HPGL,
         Q::BufferSize,
         Ended("\xb1\xb0\xb2\xb4"),
         Kind::WrongShape,
         {},
         false,
         "garbled"},
        {"high bit in a model's name",
         SendAs::HPGL,
         Q::Model,
         Ended("74\xf5"
               "A"),
         Kind::WrongShape,
         {},
         false,
         "garbled"},
        {"framing errors the port saw",
         SendAs::HPGL,
         Q::Status,
         {"8", true, true, false},
         Kind::WrongShape,
         {},
         false,
         "framing or parity"},
        {"nothing at all", SendAs::HPGL, Q::Status, {}, Kind::NoAnswer, {}, false, ""},
        {"the model", SendAs::HPGL, Q::Model, Ended("7475A"), Kind::Fine, {}, false, "7475A"},
        {"a model of control bytes",
         SendAs::HPGL,
         Q::Model,
         Ended("\x01\x02"),
         Kind::WrongShape,
         {},
         false,
         "not a model's name"},
        {"status: buffer empty", SendAs::HPGL, Q::Status, Ended("8"), Kind::Fine, 8, false, "the buffer is empty"},
        {"status: paper lever raised", SendAs::HPGL, Q::Status, Ended("40"), Kind::Fine, 40, true,
         "paper lever is raised"},
        {"status: paused, Roland", SendAs::CAMMGL, Q::Status, Ended("24"), Kind::Fine, 24, false, "held"},
        {"line error: none", SendAs::HPGL, Q::Error, Ended("0"), Kind::Fine, 0, false, "no error"},
        {"line error: framing", SendAs::HPGL, Q::Error, Ended("15"), Kind::Fine, 15, true, "framing, parity"},
        {"line error: overflow", SendAs::CAMMGL, Q::Error, Ended("16"), Kind::Fine, 16, true, "overflowed"},
        {"line error no manual lists", SendAs::HPGL, Q::Error, Ended("99"), Kind::Fine, 99, true, "does not list"},
        {"plot status: error bit", SendAs::HPGL, Q::PlotStatus, Ended("56"), Kind::Fine, 56, true, "error is waiting"},
        {"plot status: ready", SendAs::HPGL, Q::PlotStatus, Ended("24"), Kind::Fine, 24, false, "ready for data"},
        {"instruction error", SendAs::HPGL, Q::PlotError, Ended("3"), Kind::Fine, 3, true, "out of range"},
        {"a question DM/PL lacks, whatever came",
         SendAs::DMPL,
         Q::FreeSpace,
         Ended("1024"),
         Kind::Missing,
         {},
         false,
         ""},
        {"CAMM-GL has no OI", SendAs::CAMMGL, Q::Model, Ended("7475A"), Kind::Missing, {}, false, ""},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.Name));
        const CutterAnswer a = ReadAnswer(row.Language, row.Question, row.Reply);
        CHECK(a.Shape == row.Shape);
        CHECK(a.Number == row.Number);
        CHECK(a.ErrorSet == row.ErrorSet);
        std::string said = a.Model + a.Problem;
        for (const std::string& m : a.Meanings)
            said += m + ';';
        CHECK_MESSAGE(said.find(row.Said) != std::string::npos, said);
    }
}

TEST_CASE("a reply is gathered from the bytes as they come")
{
    struct Row {
        const char* Name;
        std::vector<std::string> Reads;
        bool Complete;
        std::string Bytes;
        bool Noisy;
    };
    const Row rows[] = {
        {"in pieces", {"10", "2", "4\r"}, true, "1024", false},
        {"XON and XOFF among it",
         {"\x13"
          "10",
          "24\x11\r"},
         true,
         "1024",
         false},
        {"the last answer's line end first", {"\r\n", "8\r"}, true, "\n8", false},
        {"bytes after the terminator are not this answer", {"8\rjunk"}, true, "8", false},
        {"noise that never ends", {std::string(300, '\xaa')}, true, std::string(300, '\xaa'), true},
        {"no terminator yet", {"1024"}, false, "1024", false},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.Name));
        CutterReplyReader reader('\r');
        bool complete = false;
        for (const std::string& read : row.Reads)
            complete = reader.Take(read);
        CHECK(complete == row.Complete);
        CHECK(reader.Reply.Bytes == row.Bytes);
        CHECK(reader.Noisy() == row.Noisy);
    }
}

TEST_CASE("a language's questions are asked in it, the missing ones said and not sent")
{
    Script hpgl{Healthy(1024), {}};
    const std::vector<CutterAnswer> all = AskAll(SendAs::HPGL, std::ref(hpgl), false);
    CHECK(hpgl.Asked == std::vector<std::string>{"\x1b.B", "\x1b.L", "\x1b.O", "\x1b.E", "OI;", "OS;", "OE;"});
    CHECK(all.size() == 7);

    Script roland{Healthy(1024), {}};
    const std::vector<CutterAnswer> camm = AskAll(SendAs::CAMMGL, std::ref(roland), false);
    CHECK(roland.Asked == std::vector<std::string>{"\x1b.B", "\x1b.L", "\x1b.O", "\x1b.E"});
    CHECK(std::count_if(camm.begin(), camm.end(), [](const CutterAnswer& a) { return a.Shape == Kind::Missing; }) == 3);

    for (const SendAs language : {SendAs::DMPL, SendAs::GPGL}) {
        Script none{Healthy(1024), {}};
        AskAll(language, std::ref(none), false);
        CHECK(none.Asked.empty());
    }

    // Judged once the first question has nothing or any answer is garbled:
    // a silent cutter costs one limit, not seven.
    Script silent{{}, {}};
    AskAll(SendAs::HPGL, std::ref(silent), true);
    CHECK(silent.Asked.size() == 1);
    Script garbled{{{"\x1b.L", Ended("\xb1")}}, {}};
    garbled.Replies.merge(Healthy(1024));
    AskAll(SendAs::HPGL, std::ref(garbled), true);
    CHECK(garbled.Asked.size() == 2);
    // Without stopping (--identify), every question is put.
    Script patient{{}, {}};
    AskAll(SendAs::HPGL, std::ref(patient), false);
    CHECK(patient.Asked.size() == 7);
}

TEST_CASE("the line is judged in one sentence, the likeliest cause first")
{
    const auto with = [](std::map<std::string, CutterReply> changes, std::int64_t buffer = 16384) {
        std::map<std::string, CutterReply> replies = Healthy(buffer);
        for (auto& [question, reply] : changes)
            replies[question] = reply;
        return replies;
    };
    struct Row {
        const char* Name;
        SendAs Language;
        std::map<std::string, CutterReply> Replies;
        std::int64_t FirstBlock;
        LineVerdict Verdict;
        const char* Said;
    };
    const Row rows[] = {
        {"healthy", SendAs::HPGL, Healthy(16384), 9000, LineVerdict::Sound, "is sound: the cutter (7475A)"},
        {"healthy Roland", SendAs::CAMMGL, Healthy(16384), 9000, LineVerdict::Sound, "is sound"},
        {"no answer", SendAs::HPGL, {}, 9000, LineVerdict::NoAnswer, "did not answer at all"},
        {"garbled", SendAs::HPGL, with({{"\x1b.L", Unended("\xe4\xe5")}}), 9000, LineVerdict::WrongShape,
         "speed, data bits or parity differ from the port's 9600,8,N,1,none"},
        {"not a number where one is due", SendAs::HPGL, with({{"\x1b.B", Ended("lots")}}), 9000,
         LineVerdict::WrongShape, "answers ESC.B in the wrong shape"},
        {"garbled and an error: the line first", SendAs::HPGL, with({{"\x1b.E", Ended("13")}, {"OI;", Ended("\xf4")}}),
         9000, LineVerdict::WrongShape, "wrong shape"},
        {"an error set", SendAs::HPGL, with({{"OE;", Ended("1")}}), 9000, LineVerdict::ErrorSet,
         "reports an error (OE, an instruction was not recognized)"},
        {"the cutter not ready", SendAs::HPGL, with({{"\x1b.O", Ended("32")}}), 9000, LineVerdict::ErrorSet,
         "paper lever"},
        {"framing errors the cutter saw", SendAs::HPGL, with({{"\x1b.E", Ended("15")}}), 9000, LineVerdict::ErrorSet,
         "parity differ"},
        {"an overflow the cutter saw", SendAs::HPGL, with({{"\x1b.E", Ended("16")}}), 9000, LineVerdict::ErrorSet,
         "choose a flow control"},
        {"an error and a small buffer: the error first", SendAs::HPGL, with({{"OE;", Ended("2")}}, 1024), 9000,
         LineVerdict::ErrorSet, "wrong number of parameters"},
        {"a buffer smaller than the job", SendAs::HPGL, Healthy(1024), 9000, LineVerdict::BufferTooSmall,
         "holds 1024 bytes, fewer than the 9000 bytes"},
        {"a buffer the job just fits", SendAs::HPGL, Healthy(9000), 9000, LineVerdict::Sound, "is sound"},
        {"only the free space known", SendAs::HPGL, with({{"\x1b.L", {}}}, 1024), 9000, LineVerdict::BufferTooSmall,
         "holds 1024 bytes"},
        {"a small buffer with flow control", SendAs::HPGL, Healthy(1024), 0, LineVerdict::Sound, "is sound"},
        {"a cutter that answers the device only", SendAs::HPGL, with({{"OI;", {}}, {"OS;", {}}, {"OE;", {}}}), 9000,
         LineVerdict::Sound, "is sound: the cutter answers"},
        {"DM/PL", SendAs::DMPL, Healthy(16384), 9000, LineVerdict::CannotAsk, "cannot be checked"},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.Name));
        const LineCheck check =
            JudgeLine(row.Language, Answers(row.Language, row.Replies), "/dev/ttyUSB0", NoFlow(), row.FirstBlock);
        CHECK(check.Verdict == row.Verdict);
        CHECK_MESSAGE(check.Sentence.find(row.Said) != std::string::npos, check.Sentence);
        CHECK(check.Sentence.find("\"/dev/ttyUSB0\"") != std::string::npos);
    }
}

TEST_CASE("the job a cutter must hold without flow control is the sample's, in its language")
{
    DeviceSettings s;
    s.PaperName = "A4";
    s.PaperWidthMm = 210;
    s.PaperHeightMm = 297;
    for (const SendAs language : {SendAs::HPGL, SendAs::CAMMGL, SendAs::Driver}) {
        s.Language = language;
        const std::int64_t bytes = SampleJobBytes(s);
        // The sample is some thousands of bytes in any language; a port set
        // to the driver is sent HPGL.
        CHECK(bytes > 2000);
        CHECK(bytes < 100000);
    }
    s.Language = SendAs::Driver;
    const std::int64_t driver = SampleJobBytes(s);
    s.Language = SendAs::HPGL;
    CHECK(SampleJobBytes(s) == driver);
    CHECK(FirstBlockBytes(FlowControl::None, driver) == driver);
    for (const FlowControl flow : {FlowControl::XonXoff, FlowControl::RtsCts})
        CHECK(FirstBlockBytes(flow, driver) == 0);
}
