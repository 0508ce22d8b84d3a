#include "winui/WindowCalls.h"

#include "common/Exceptions.h"
#include "platform/Spooler.h"
#include "platform/windows/Win32.h"
#include "winui/ErrorBox.h"

#include <memory>

namespace winui {

namespace {

struct TAnswer {
    TWindowCalls::Kind Kind;
    bool Ok = true;
    bool Definite = true;
    TWindowCalls::Clock::time_point Began;
    std::string Result;
    TWindowCalls::Done OnDone;
    TWindowCalls::Failed OnFailed;
};

} // namespace

const unsigned TWindowCalls::AnswerMessage = WM_APP + 17;

bool TWindowCalls::Start(Kind kind, std::function<std::string()> work, Done done, Failed failed)
{
    if (FBusy[kind] || !FWindow)
        return false;
    // The last call of this kind has posted its answer already: its thread
    // is at its end.
    if (FThreads[kind].joinable())
        FThreads[kind].join();
    auto answer = std::make_unique<TAnswer>();
    answer->Kind = kind;
    answer->Began = Clock::now();
    answer->OnDone = std::move(done);
    answer->OnFailed = std::move(failed);
    const HWND window = static_cast<HWND>(FWindow);
    FThreads[kind] = std::thread([window, work = std::move(work), answer = std::move(answer)]() mutable {
        try {
            answer->Result = work();
        } catch (const EOSError& e) {
            answer->Ok = false;
            answer->Definite = e.ErrorCode() != SpoolerUnavailableCode;
            answer->Result = e.Message();
        } catch (...) {
            answer->Ok = false;
            answer->Result = CurrentExceptionMessage();
        }
        TAnswer* posted = answer.release();
        if (!PostMessageW(window, AnswerMessage, 0, reinterpret_cast<LPARAM>(posted)))
            delete posted; // the window is gone
    });
    FBusy[kind] = true;
    return true;
}

void TWindowCalls::Answered(void* posted)
{
    std::unique_ptr<TAnswer> answer(static_cast<TAnswer*>(posted));
    FBusy[answer->Kind] = false;
    if (answer->Ok) {
        if (answer->OnDone)
            answer->OnDone(answer->Result);
    } else if (answer->OnFailed) {
        answer->OnFailed(answer->Result, answer->Definite, answer->Began);
    }
}

void TWindowCalls::Close()
{
    for (std::thread& thread : FThreads)
        if (thread.joinable())
            thread.join();
    if (FWindow) {
        MSG message;
        while (PeekMessageW(&message, static_cast<HWND>(FWindow), AnswerMessage, AnswerMessage, PM_REMOVE))
            delete reinterpret_cast<TAnswer*>(message.lParam);
    }
    for (bool& busy : FBusy)
        busy = false;
    FWindow = nullptr;
}

} // namespace winui
