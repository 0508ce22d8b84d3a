#include "output/WindowCalls.h"

#include "common/ErrorText.h"
#include "common/Exceptions.h"
#include "platform/Spooler.h"

#include <utility>

TWindowCalls::TWindowCalls(Post post) : FPost(std::move(post))
{}

TWindowCalls::~TWindowCalls()
{
    Close();
    for (std::thread& thread : FThreads)
        if (thread.joinable())
            thread.join();
}

bool TWindowCalls::Start(Kind kind, std::function<std::string()> work, Done done, Failed failed)
{
    if (FBusy[kind] || !*FOpen)
        return false;
    // The last call of this kind has handed over its answer already: its
    // thread is at its end.
    if (FThreads[kind].joinable())
        FThreads[kind].join();
    FBusy[kind] = true;
    const Clock::time_point began = Clock::now();
    FThreads[kind] = std::thread([this, kind, began, open = FOpen, post = FPost, work = std::move(work),
                                  done = std::move(done), failed = std::move(failed)]() mutable {
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
