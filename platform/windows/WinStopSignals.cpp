// The endings a console program can catch on Windows: Ctrl+C, Ctrl+Break and
// the console closing end it as Stop ends a job. The handler runs on a
// thread of its own while the job goes on, so the job stops after its
// chunk and the program reports it and ends; a second Ctrl+C ends it at once.

#include "platform/StopSignals.h"

#include "platform/JobFile.h"
#include "platform/JobProgress.h"
#include "platform/windows/Win32.h"

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> FirstSignal{0};
std::atomic<bool> Installed{false};

// The C signal number the event stands for, as the Linux program reports it.
int SignalOf(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT: return SIGINT;
    case CTRL_BREAK_EVENT: return SIGBREAK;
    default: return SIGTERM; // the console closing, logoff, shutdown
    }
}

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    int none = 0;
    if (FirstSignal.compare_exchange_strong(none, SignalOf(event))) {
        EndJobs();
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE;
        // The system ends the process once this returns: the job gets the
        // few seconds Windows allows to stop in order.
        Sleep(4000);
        RemoveJobTemporaryFile();
        return FALSE;
    }
    // Asked again: no more waiting for the job to end in order.
    RemoveJobTemporaryFile();
    return FALSE;
}

} // namespace

void CatchStopSignals(int /*notifyFd*/)
{
    if (!Installed.exchange(true))
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

int CaughtStopSignal()
{
    return FirstSignal.load();
}

void ReleaseStopSignals()
{
    if (Installed.exchange(false))
        SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
}
