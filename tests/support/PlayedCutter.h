#pragma once

// A cutter on a serial line, played on a pseudo-terminal by a thread of the
// test: the program opens Path() as it would /dev/ttyUSB0, the thread serves
// the other side as the cutter. It keeps what it accepts of a job in a
// buffer of a set size drained at a set rate, dropping what overflows as a
// small-buffer cutter does, and answers the HP-GL questions (ESC.B, ESC.L,
// ESC.O, ESC.E, OI, OS, OE) as its kind has it. The questions are answered
// as they arrive and are not kept as job bytes. The terminal carries bytes
// far faster than any drain rate a test sets, so a job sent without flow
// control really overflows a small buffer. Answers are computed from bytes
// counted and the drain from a steady clock: a slow machine slows a test,
// it does not change what the cutter says.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class PlayedCutter {
public:
    enum class Kind {
        Answering,    // answers every question
        Silent,       // never answers
        WrongSpeed,   // answers in garbled bytes, as a line at the wrong speed reads
        ReportsError, // answers with an error set in ESC.E, ESC.O, OS and OE
    };
    struct Setup {
        Kind Plays = Kind::Answering;
        std::int64_t BufferBytes = 1024;
        std::int64_t DrainPerSecond = 4800;
        std::string Model = "7475A";
        // ReportsError: the ESC.E and OE codes answered.
        int LineError = 13;
        int PlotError = 3;
        // Sends XOFF once the free space falls to XoffAtFree bytes, and XON
        // once it is back above XonAtFree; -1: never. While held it reads
        // nothing, so a sender that obeys loses nothing to the terminal's
        // speed, and one that does not still overflows the buffer.
        std::int64_t XoffAtFree = -1;
        std::int64_t XonAtFree = -1;
        // Answers this many questions, then falls silent (a cutter that stops
        // answering mid-job, at a point counted, not timed); -1: never.
        std::int64_t StopAnsweringAfter = -1;
    };

    explicit PlayedCutter(const Setup& setup);
    ~PlayedCutter();
    PlayedCutter(const PlayedCutter&) = delete;
    PlayedCutter& operator=(const PlayedCutter&) = delete;

    // False when the pseudo-terminal could not be made.
    bool Valid() const { return !FPath.empty(); }
    // The port's name for the program: the terminal's slave side.
    const std::string& Path() const { return FPath; }

    // Every job byte the cutter accepted into its buffer, in order.
    std::string Accepted() const;
    // Job bytes that arrived while the buffer was full.
    std::int64_t Dropped() const;
    // Questions answered (or, once silent, heard).
    std::int64_t Questions() const;
    // Waits until bytes job bytes (accepted or dropped) have arrived, or
    // none came for quiet; whether they all came.
    bool WaitForBytes(std::int64_t bytes, std::chrono::milliseconds quiet) const;

    // The cutter goes on reading but answers nothing more.
    void StopAnswering();
    // Closes the cutter's side: the port sees a hang-up.
    void HangUp();

private:
    void Serve();
    void Take(const char* data, std::int64_t size);
    void TakeJobByte(char c);
    void Answer(char question);
    void Say(std::string text);
    void Drain();
    void Flow();

    Setup FSetup;
    std::string FPath;
    int FMaster = -1;
    int FSlave = -1;
    std::thread FThread;
    std::atomic<bool> FQuit{false};
    std::atomic<bool> FHangUp{false};
    std::atomic<bool> FSilent{false};

    mutable std::mutex FMutex;
    mutable std::condition_variable FArrived;
    std::string FAccepted;
    std::int64_t FDropped = 0;
    std::int64_t FQuestions = 0;
    bool FClosed = false;

    // The serving thread's own state.
    std::int64_t FLevel = 0; // bytes in the buffer
    double FDrainCredit = 0;
    std::chrono::steady_clock::time_point FDrainedAt;
    bool FOverflowed = false; // since ESC.E last asked
    bool FHolding = false;    // XOFF said
    std::string FPending;     // bytes that may be the start of a question
    bool FAtStart = true;     // the next byte begins an instruction
};
