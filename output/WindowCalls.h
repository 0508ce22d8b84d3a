#pragma once

// Slow work for a window, run on worker threads with the answer handed back
// to the window's thread: the print server may be slow, stalled or far away,
// and the window must keep answering input whatever it does.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

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
    // Hands a function to the window's thread, to run there later; called on
    // a worker. A function that never runs (the window is gone) is simply
    // destroyed.
    using Post = std::function<void(std::function<void()> answer)>;

    explicit TWindowCalls(Post post);
    TWindowCalls(const TWindowCalls&) = delete;
    TWindowCalls& operator=(const TWindowCalls&) = delete;
    // Closes, and waits for every worker (each is bounded by the spooler's
    // limits).
    ~TWindowCalls();

    bool Busy(Kind kind) const noexcept { return FBusy[kind]; }

    // Runs work on a worker thread unless a call of this kind is running or
    // the calls are closed (then returns false and runs nothing). Exactly one
    // of done or failed runs later on the window's thread, unless the calls
    // are closed by then.
    bool Start(Kind kind, std::function<std::string()> work, Done done, Failed failed);

    // A function that hands a function to the window's thread, to run there
    // unless the calls are closed by then. Safe from any thread, and after
    // this object is gone.
    Post Hander() const;

    // An answer not yet handled is dropped, and nothing starts afterwards.
    // Never waits: a worker still running ends on its own.
    void Close() noexcept;

private:
    Post FPost;
    // Shared with the answers on their way: false once closed. Read and
    // written on the window's thread only.
    std::shared_ptr<bool> FOpen = std::make_shared<bool>(true);
    bool FBusy[KindCount] = {};
    class TWorker;
    std::unique_ptr<TWorker> FWorkers[KindCount];
};
