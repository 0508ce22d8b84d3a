#pragma once

// Spooler work for the window, run on worker threads with the answer posted
// back to the window's thread: the print server may be slow, stalled or far
// away, and the window must keep answering input whatever it does.

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace winui {

class TWindowCalls {
public:
    // Calls of one kind never overlap; calls of different kinds may.
    enum Kind { Status, Name, Setup, Job, KindCount };
    using Clock = std::chrono::steady_clock;
    using Done = std::function<void(const std::string& result)>;
    // The failure's message, whether it is definite (the server's own answer,
    // not a server that was not reached or did not answer in time) and when
    // the call began.
    using Failed = std::function<void(const std::string& message, bool definite, Clock::time_point began)>;

    // The window message the answers arrive in; the window hands each to
    // Answered.
    static const unsigned AnswerMessage;

    TWindowCalls() = default;
    TWindowCalls(const TWindowCalls&) = delete;
    TWindowCalls& operator=(const TWindowCalls&) = delete;
    // Waits for calls still running (each is bounded by the spooler's limits).
    ~TWindowCalls() { Close(); }

    // The window that receives the answers (an HWND).
    void SetWindow(void* window) noexcept { FWindow = window; }
    bool Busy(Kind kind) const noexcept { return FBusy[kind]; }

    // Runs work on a worker thread unless a call of this kind is running (then
    // returns false). Exactly one of done or failed runs later on the window's
    // thread, unless the window is gone by then.
    bool Start(Kind kind, std::function<std::string()> work, Done done, Failed failed);

    // For the window's procedure: runs the answer's handler (takes ownership).
    void Answered(void* answer);

    // Waits for every worker and drops answers not yet handled; nothing runs
    // afterwards.
    void Close();

private:
    void* FWindow = nullptr;
    bool FBusy[KindCount] = {};
    std::thread FThreads[KindCount];
};

} // namespace winui
