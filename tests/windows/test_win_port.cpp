// A cutter on COM1, played by tests/windows/fake-cutter.py on the
// pseudo-terminal Wine's COM1 leads to (scripts/test-windows).

#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"
#include "platform/PrinterObject.h"
#include "platform/windows/WinPort.h"

#include <doctest/doctest.h>

#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Received {
    std::string Bytes;
    int Held = -1; // bytes that arrived while the cutter held the line
};

// Clears what the cutter kept under this tag from an earlier run.
void Forget(const std::string& tag)
{
    DeleteFileW(Wide(CutterFolder() + "\\" + tag + ".bin").c_str());
    DeleteFileW(Wide(CutterFolder() + "\\" + tag + ".held").c_str());
}

// What the cutter received under this tag, once it has ended the job.
Received Receive(const std::string& tag)
{
    const std::string base = CutterFolder() + "\\" + tag;
    for (int waited = 0; waited < 15000; waited += 50) {
        if (const auto held = ReadWholeFile(base + ".held"))
            return {ReadWholeFile(base + ".bin").value_or(""), std::atoi(held->c_str())};
        Sleep(50);
    }
    return {};
}

std::string Job(const std::string& tag, const std::string& behaviour, size_t size)
{
    return "TAG=" + tag + ";" + behaviour + PatternBytes(size);
}

std::string SendFailure(const std::string& job, std::chrono::milliseconds limit)
{
    SetPortTimeLimits({limit});
    try {
        auto port = OpenComPort("COM1", PortSettings{});
        SendToComPort(*port, PortSettings{}, job);
        return {};
    } catch (const Exception& e) {
        return e.Message();
    }
}

} // namespace

TEST_CASE("while the cutter holds XOFF nothing is sent, and nothing is lost")
{
    REQUIRE_FALSE(CutterFolder().empty());
    Forget("xoff");
    const std::string job = Job("xoff", "HOLD=1000@2000;", 20000);
    const auto began = Clock::now();
    CHECK(SendFailure(job, std::chrono::milliseconds(30000)) == "");
    CHECK(Clock::now() - began >= std::chrono::milliseconds(1000));
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
        const char* Behaviour;
        int LimitMs;
        int StopAfterMs; // 0: not stopped
        const char* Why;
    };
    const Row rows[] = {
        {"limit", "HOLD=1500@1000;", 300, 0, "the cutter held it (XOFF) for more than 0.3 s"},
        {"stop", "HOLD=3000@1000;", 30000, 300, ""},
    };
    for (const Row& row : rows) {
        const std::string tag = row.Tag;
        CAPTURE(tag);
        Forget(tag);
        const std::string job = Job(tag, row.Behaviour, 5000);
        std::thread stopper([&] {
            if (row.StopAfterMs > 0) {
                Sleep(static_cast<DWORD>(row.StopAfterMs));
                StopJobs();
            }
        });
        const auto began = Clock::now();
        const std::string error = SendFailure(job, std::chrono::milliseconds(row.LimitMs));
        const auto took = Clock::now() - began;
        stopper.join();
        if (row.StopAfterMs > 0) {
            // Stopped, it reads as a stopped job does wherever it went.
            const std::string head = "The job was stopped: ",
                              tail = " of " + std::to_string(job.size()) + " bytes sent";
            REQUIRE(error.rfind(head, 0) == 0);
            REQUIRE(error.size() > head.size() + tail.size());
            CHECK(error.find_first_not_of("0123456789", head.size()) == error.size() - tail.size());
            CHECK(error.compare(error.size() - tail.size(), tail.size(), tail) == 0);
        } else {
            const std::string head = "The job to COM1 was not completed (";
            REQUIRE(error.rfind(head, 0) == 0);
            const std::string words = error.substr(error.find("): ") + 3);
            if (UnderWine() && std::string(row.Why).find("XOFF") != std::string::npos
                && words == "the port took nothing for 0.3 s")
                WARN_MESSAGE(false, "Wine 8 does not report an XOFF hold (COMSTAT.fXoffHold)");
            else
                CHECK(words == row.Why);
            CHECK(error.find(" of " + std::to_string(job.size()) + " bytes sent): ") != std::string::npos);
        }
        CHECK(took < std::chrono::milliseconds(std::max(row.LimitMs, row.StopAfterMs) + 1000));
        // The cutter got a beginning of the job, nothing else.
        const Received got = Receive(tag);
        CHECK(got.Bytes.size() >= 1000);
        CHECK(got.Bytes.size() < job.size());
        CHECK(job.compare(0, got.Bytes.size(), got.Bytes) == 0);
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
    CHECK(std::find(ports.begin(), ports.end(), "COM1") != ports.end());

    struct Refusal {
        const char* Port;
        const char* Words;
    };
    for (const Refusal& r : {Refusal{"COM99", "is not there"}, Refusal{"LPT1", "is not a port"},
                             Refusal{"C:\\windows", "is not a port"}}) {
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
