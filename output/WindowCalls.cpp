#include "output/WindowCalls.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "platform/Spooler.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

// One thread a kind, kept for the next call: the status is asked five times
// a second.
class TWindowCalls::TWorker {
public:
    TWorker() : FThread([this] { Run(); }) {}
    // Ends after the call it runs, or is given, is done.
    ~TWorker()
    {
        {
            const std::lock_guard lock(FMutex);
            FQuit = true;
        }
        FWake.notify_one();
        FThread.join();
    }
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;

    void Run(std::function<void()> call)
    {
        {
            const std::lock_guard lock(FMutex);
            FCall = std::move(call);
        }
        FWake.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock lock(FMutex);
        for (;;) {
            FWake.wait(lock, [this] { return FQuit || FCall; });
            if (!FCall)
                return;
            std::function<void()> call = std::exchange(FCall, nullptr);
            lock.unlock();
            call();
            call = nullptr; // what it holds goes here, not under the lock
            lock.lock();
        }
    }

    std::mutex FMutex;
    std::condition_variable FWake;
    std::function<void()> FCall;
    bool FQuit = false;
    std::thread FThread; // last: starts once the rest is there
};

TWindowCalls::TWindowCalls(Post post) : FPost(std::move(post))
{}

TWindowCalls::~TWindowCalls()
{
    Close();
    for (std::unique_ptr<TWorker>& worker : FWorkers)
        worker.reset();
}

bool TWindowCalls::Start(Kind kind, std::function<std::string()> work, Done done, Failed failed)
{
    if (FBusy[kind] || !*FOpen)
        return false;
    if (!FWorkers[kind])
        FWorkers[kind] = std::make_unique<TWorker>();
    FBusy[kind] = true;
    const Clock::time_point began = Clock::now();
    FWorkers[kind]->Run([this, kind, began, open = FOpen, post = FPost, work = std::move(work), done = std::move(done),
                         failed = std::move(failed)]() mutable {
        std::string result;
        bool ok = true;
        bool definite = true;
        try {
            result = work();
        } catch (const EOSError& e) {
            ok = false;
            definite = e.ErrorCode() != SpoolerUnavailableCode;
            result = e.Message();
        } catch (...) {
            ok = false;
            result = CurrentExceptionMessage();
        }
        post([this, kind, began, ok, definite, open = std::move(open), result = std::move(result),
              done = std::move(done), failed = std::move(failed)] {
            // After Close the object may be gone: only the flag is read.
            if (!*open)
                return;
            FBusy[kind] = false;
            if (ok)
                done(result);
            else
                failed(result, definite, began);
        });
    });
    return true;
}

void TWindowCalls::Close() noexcept
{
    *FOpen = false;
    // No answer is to come.
    for (bool& busy : FBusy)
        busy = false;
}

TWindowCalls::Post TWindowCalls::Hander() const
{
    return [post = FPost, open = FOpen](std::function<void()> f) {
        post([open, f = std::move(f)] {
            if (*open)
                f();
        });
    };
}
