// A cutter on COM1, played by tests/windows/fake-cutter.py on the
// pseudo-terminal Wine's COM1 leads to (scripts/test-windows).

#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "output/LineCheck.h"
#include "platform/JobProgress.h"
#include "platform/PrinterObject.h"
#include "platform/serial/PortDevices.h"
#include "platform/windows/WinPort.h"

#include <doctest/doctest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct Received {
    std::string Bytes;
    int Held = -1; // bytes that arrived while the cutter held the line
};

// Clears what the cutter kept under this tag from an earlier run.
void Forget(const std::string& tag)
{
    for (const char* suffix : {".bin", ".held", ".holding", ".release"})
        DeleteFileW(Wide(CutterFolder() + "\\" + tag + suffix).c_str());
}

// Ends the cutter's job and returns what it received under this tag.
Received Receive(const std::string& tag)
{
    if (!ResetCutter())
        return {};
    const std::string base = CutterFolder() + "\\" + tag;
    const auto held = ReadWholeFile(base + ".held");
    return held ? Received{ReadWholeFile(base + ".bin").value_or(""), std::atoi(held->c_str())} : Received{};
}

// Whether the cutter holds the line under this tag: its XOFF has stopped the
// port's side of it.
bool Holding(const std::string& tag)
{
    const std::wstring signal = Wide(CutterFolder() + "\\" + tag + ".holding");
    for (int waited = 0; waited < 30000; waited += 20) {
        if (GetFileAttributesW(signal.c_str()) != INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(20);
    }
    return false;
}

// A job whose first holdAt bytes have the cutter hold the line for holdMs.
std::string Job(const std::string& tag, int holdMs, size_t holdAt, size_t size)
{
    const std::string head = "TAG=" + tag + ";HOLD=" + std::to_string(holdMs) + "@" + std::to_string(holdAt) + ";";
    return head + PatternBytes(size - head.size());
}

// Sends the job on COM1 in two parts: up to where the cutter holds the line,
// then, once it holds it, the rest, so the hold meets the rest however slow
// the machine is (the whole job could otherwise sit in the terminal's buffer
// before the cutter said XOFF). whileHeld runs as the rest begins. What
// sending the rest threw, empty if nothing; the head must go through.
std::string SendHeld(const std::string& tag, const std::string& job, size_t holdAt, milliseconds limit,
                     milliseconds& took, const std::function<void()>& whileHeld = {}, SendAs language = SendAs::Driver)
{
    SetPortTimeLimits({});
    auto port = OpenComPort("COM1", PortSettings{});
    const auto began = Clock::now();
    SendToComPort(*port, PortSettings{}, std::string_view(job).substr(0, holdAt));
    REQUIRE(Holding(tag));
    SetPortTimeLimits({limit});
    if (whileHeld)
        whileHeld();
    std::string error;
    try {
        SendToComPort(*port, PortSettings{}, std::string_view(job).substr(holdAt), language);
    } catch (const Exception& e) {
        error = e.Message();
    }
    took = std::chrono::duration_cast<milliseconds>(Clock::now() - began);
    SetPortTimeLimits({});
    return error;
}

} // namespace

TEST_CASE("while the cutter holds XOFF nothing is sent, and nothing is lost")
{
    REQUIRE_FALSE(CutterFolder().empty());
    REQUIRE(ResetCutter());
    Forget("xoff");
    const std::string job = Job("xoff", 1000, 2000, 20000);
    milliseconds took{};
    CHECK(SendHeld("xoff", job, 2000, milliseconds(30000), took) == "");
    // The rest could only go after the cutter's XON.
    CHECK(took >= milliseconds(1000));
    CHECK_FALSE(PortSending("COM1"));
    const Received got = Receive("xoff");
    CHECK(got.Held == 0);
    CHECK(got.Bytes.size() == job.size());
    CHECK(got.Bytes == job);
}

TEST_CASE("a job held past the limit, or stopped, ends in the Linux words with the port left idle")
{
    struct Row {
        const char* Tag;
        int LimitMs;
        bool Stop; // stopped while held
        const char* Why;
    };
    // The cutter holds the line until it is reset: only the limit or the
    // stop can end these jobs.
    const Row rows[] = {
        {"limit", 300, false, "the cutter held it (XOFF) for more than 0.3 s"},
        {"stop", 30000, true, ""},
    };
    constexpr size_t holdAt = 1000;
    for (const Row& row : rows) {
        const std::string tag = row.Tag;
        CAPTURE(tag);
        REQUIRE(ResetCutter());
        Forget(tag);
        const std::string job = Job(tag, 600000, holdAt, 5000);
        // Stopped once the rest is under way, whenever that is.
        std::jthread stopper;
        std::function<void()> whileHeld;
        if (row.Stop)
            whileHeld = [&] {
                stopper = std::jthread([](std::stop_token quit) {
                    while (!quit.stop_requested() && !CurrentJobProgress().Sending)
                        Sleep(5);
                    if (!quit.stop_requested())
                        StopJobs();
                });
            };
        milliseconds took{};
        const std::string error = SendHeld(tag, job, holdAt, milliseconds(row.LimitMs), took, whileHeld);
        stopper = {};
        // Nothing of the rest went: the cutter never let go.
        const std::string rest = std::to_string(job.size() - holdAt);
        if (row.Stop) {
            // Stopped, it reads as a stopped job does wherever it went.
            CHECK(error == "The job was stopped: 0 of " + rest + " bytes sent");
        } else {
            const std::string head = "The job to COM1 was not completed (";
            REQUIRE(error.rfind(head, 0) == 0);
            const std::string words = error.substr(error.find("): ") + 3);
            if (UnderWine() && std::string(row.Why).find("XOFF") != std::string::npos
                && words == "the port took nothing for 0.3 s")
                WARN_MESSAGE(false, "Wine 8 does not report an XOFF hold (COMSTAT.fXoffHold)");
            else
                CHECK(words == row.Why);
            CHECK(error.find("(0 of " + rest + " bytes sent): ") != std::string::npos);
        }
        CHECK_FALSE(PortSending("COM1"));
        // The cutter got the beginning of the job, nothing else.
        const Received got = Receive(tag);
        CHECK(got.Bytes == job.substr(0, holdAt));
    }
}

TEST_CASE("a cutter's job stopped on COM1 finishes its pair and lifts the knife, as on Linux")
{
    // Stopped while the cutter holds the line, then let go: what the port
    // took before the stop is finished, never cut.
    constexpr size_t holdAt = 1000;
    const std::string tag = "knife";
    REQUIRE(ResetCutter());
    Forget(tag);
    std::string job = "TAG=" + tag + ";HOLD=600000@" + std::to_string(holdAt) + ";IN;";
    job.resize(holdAt, ';');
    job += "PD";
    for (int i = 0; i < 600; ++i)
        job += (i ? "," : "") + std::to_string(i * 37 % 9000) + "," + std::to_string(i * 53 % 9000);
    job += ";\nPU0,0;\n";
    std::jthread stopper;
    const auto whileHeld = [&] {
        stopper = std::jthread([&](std::stop_token quit) {
            while (!quit.stop_requested() && !CurrentJobProgress().Sending)
                Sleep(5);
            if (quit.stop_requested())
                return;
            StopJobs();
            WriteWholeFile(CutterFolder() + "\\" + tag + ".release", "");
        });
    };
    milliseconds took{};
    const std::string error = SendHeld(tag, job, holdAt, milliseconds(30000), took, whileHeld, SendAs::HPGL);
    stopper = {};
    CHECK_FALSE(PortSending("COM1"));
    const Received got = Receive(tag);
    const std::string lift = ";\nPU;\nSP0;\n";
    REQUIRE(got.Bytes.size() > holdAt + lift.size());
    CHECK(got.Bytes.ends_with(lift));
    const std::string cut = got.Bytes.substr(0, got.Bytes.size() - lift.size());
    REQUIRE(cut.size() < job.size());
    CHECK(job.starts_with(cut));
    // Whole numbers, whole pairs: the job goes on with the next pair.
    const std::string drawn = cut.substr(holdAt);
    CHECK(drawn.starts_with("PD"));
    CHECK(job[cut.size()] == ',');
    CHECK(std::count(drawn.begin(), drawn.end(), ',') % 2 == 1);
    CHECK(error
          == "The job was stopped: " + std::to_string(drawn.size()) + " of " + std::to_string(job.size() - holdAt)
                 + " bytes sent");
}

TEST_CASE("asked before each block, a small-buffer cutter on COM1 gets the whole job; not asked, it loses bytes")
{
    // The cutter answers for a 1 KiB buffer drained at 4,800 bytes/s and
    // drops what overflows.
    const std::string answer = CutterFolder() + "\\answers";
    struct Unanswered {
        std::string Path;
        ~Unanswered() { DeleteFileW(Wide(Path).c_str()); }
    } unanswered{answer};
    for (const std::string flow : {"query", "none"}) {
        const std::string tag = "asked-" + flow;
        CAPTURE(tag);
        REQUIRE(ResetCutter());
        Forget(tag);
        DeleteFileW(Wide(CutterFolder() + "\\" + tag + ".dropped").c_str());
        WriteWholeFile(answer, "answering 1024 4800");
        StringSink sink;
        const auto encoder = MakeCutterEncoder(SendAs::HPGL, sink);
        encoder->Begin();
        for (std::int64_t line = 0; line < 150; ++line) {
            encoder->MoveTo({(line * 37) % 8000, (line * 53) % 11000});
            for (std::int64_t point = 1; point <= 12; ++point)
                encoder->CutTo({(line * 37 + point * 211) % 8000, (line * 53 + (point % 2) * 977) % 11000});
        }
        encoder->End();
        const std::string job = "TAG=" + tag + ";\n" + sink.Bytes();
        const PortSettings line = ParsePortSettings("115200,8,N,1," + flow).value();
        SetPortTimeLimits({});
        {
            auto port = OpenComPort("COM1", line);
            SendToComPort(*port, line, job, SendAs::HPGL);
        }
        CHECK_FALSE(PortSending("COM1"));
        const Received got = Receive(tag);
        const int dropped = std::atoi(ReadWholeFile(CutterFolder() + "\\" + tag + ".dropped").value_or("-1").c_str());
        if (flow == "query") {
            CHECK(dropped == 0);
            CHECK(got.Bytes.size() == job.size());
            CHECK(got.Bytes == job);
        } else {
            CHECK(dropped > 0);
            CHECK(got.Bytes.size() < job.size());
        }
    }
}

TEST_CASE("a port is named, found and held as Windows has it")
{
    struct Name {
        const char* Text;
        bool Port;
    };
    for (const Name& n : {Name{"COM1", true}, Name{"com12", true}, Name{"\\\\.\\COM3", true}, Name{"COM256", true},
                          Name{"COM0", false}, Name{"COM257", false}, Name{"COM1:", false}, Name{"LPT1", false},
                          Name{"COMX", false}, Name{"", false}, Name{"/dev/ttyUSB0", false}}) {
        CAPTURE(std::string(n.Text));
        CHECK(IsComPortName(n.Text) == n.Port);
        // What the printer object routes to a port rather than the spooler.
        CHECK(IsPortDevice(n.Text) == n.Port);
    }
    const auto ports = ListComPorts();
    for (const char* port : {"COM1", "COM5", "COM6"}) {
        CAPTURE(std::string(port));
        CHECK(std::find(ports.begin(), ports.end(), port) != ports.end());
    }
    CHECK(ports == ComPortsInOrder(ports));

    // The list's order: by number, each port once.
    using Names = std::vector<std::string>;
    struct Order {
        Names Found;
        Names Listed;
    };
    for (const Order& o : {Order{{"COM10", "COM2", "COM1"}, {"COM1", "COM2", "COM10"}},
                           Order{{"COM256", "COM3", "COM100", "COM25"}, {"COM3", "COM25", "COM100", "COM256"}},
                           Order{{"com2", "COM2", "\\\\.\\COM2", "COM12"}, {"COM2", "COM12"}}, Order{{}, {}}}) {
        std::string found;
        for (const std::string& name : o.Found)
            found += name + " ";
        CAPTURE(found);
        CHECK(ComPortsInOrder(o.Found) == o.Listed);
    }

    struct Refusal {
        const char* Port;
        const char* Words;
    };
    // COM5 and COM6 are mapped (scripts/test-windows), to no device.
    for (const Refusal& r :
         {Refusal{"COM99", "is not there"}, Refusal{"LPT1", "is not a port"}, Refusal{"C:\\windows", "is not a port"},
          Refusal{"COM5", "The port COM5 is not there"}, Refusal{"com6", "The port com6 is not there"}}) {
        CAPTURE(std::string(r.Port));
        try {
            OpenComPort(r.Port, PortSettings{});
            FAIL("opened");
        } catch (const EPrinter& e) {
            CHECK(e.Message().find(r.Words) != std::string::npos);
        }
    }

    auto held = OpenComPort("COM1", PortSettings{});
    CHECK(PortSending("com1"));
    try {
        auto again = OpenComPort("COM1", PortSettings{});
        if (UnderWine())
            WARN_MESSAGE(false, "Wine 8 opens a COM port twice though it was opened without sharing");
        else
            FAIL("opened twice");
    } catch (const EPrinter& e) {
        CHECK(e.Message() == "The port COM1 is in use by another program; close that program and try again");
    }
    held.reset();
    CHECK_FALSE(PortSending("COM1"));
}

TEST_CASE("the line to COM1 is judged by what the cutter answers, in the Linux words")
{
    const std::string answers = CutterFolder() + "\\answers";
    struct Row {
        const char* Plays; // DIR/answers, as fake-cutter.py reads it
        const char* Line;
        LineVerdict Verdict;
        const char* Said;
    };
    for (const Row& row : {
             Row{"answering 16384", "9600,8,N,1,none", LineVerdict::Sound, "is sound: the cutter (7475A) answers"},
             Row{"answering 1024", "9600,8,N,1,xonxoff", LineVerdict::Sound, "is sound"},
             Row{"answering 1024", "9600,8,N,1,none", LineVerdict::BufferTooSmall, "holds 1024 bytes, fewer than"},
             Row{"silent", "9600,8,N,1,none", LineVerdict::NoAnswer, "did not answer at all"},
             Row{"wrongspeed", "9600,8,N,1,none", LineVerdict::WrongShape, "answers ESC.B in the wrong shape"},
             Row{"error", "9600,8,N,1,none", LineVerdict::ErrorSet, "reports an error (ESC.O, the paper lever"},
         }) {
        CAPTURE(std::string(row.Plays));
        CAPTURE(std::string(row.Line));
        WriteWholeFile(answers, row.Plays);
        DeviceSettings settings = DefaultPortSettings();
        settings.Line = *ParsePortSettings(row.Line);
        const LineCheck check = CheckCutterLine("COM1", settings);
        CHECK(check.Verdict == row.Verdict);
        CHECK_MESSAGE(check.Sentence.find(row.Said) != std::string::npos, check.Sentence);
        CHECK(check.Sentence.find("\"COM1\"") != std::string::npos);
    }
    WriteWholeFile(answers, "answering 2048");
    DeviceSettings settings = DefaultPortSettings();
    std::string lines;
    for (const std::string& line : AnswerLines(SendAs::HPGL, IdentifyCutter("COM1", settings), false))
        lines += line + "\n";
    CHECK_MESSAGE(lines.find("Model (OI): 7475A\n") != std::string::npos, lines);
    CHECK_MESSAGE(lines.find("Buffer size (ESC.L): 2048 bytes\n") != std::string::npos, lines);
    // Only questions went: the cutter kept no job.
    DeleteFileW(Wide(answers).c_str());
    const std::vector<std::string> before = TTempFolder::NamesOf(CutterFolder());
    REQUIRE(ResetCutter());
    CHECK(NewNames(CutterFolder(), before, 0).empty());
    // A printer of the spooler is refused before anything is opened.
    try {
        CheckCutterLine("RawCutter", settings);
        FAIL("asked a queue");
    } catch (const EPrinter& e) {
        CHECK(e.Message().find("\"RawCutter\" is not a port") != std::string::npos);
    }
}
