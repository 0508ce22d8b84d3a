#include "platform/StopSignals.h"

#include "platform/JobFile.h"
#include "platform/JobProgress.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace {

constexpr int Caught[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> FirstSignal{0};
std::atomic<int> NotifyFd{-1};
bool Installed = false;
struct sigaction Previous[std::size(Caught)];

void OnStopSignal(int signal)
{
    const int saved = errno;
    int none = 0;
    if (FirstSignal.compare_exchange_strong(none, signal)) {
        EndJobs();
        if (const int fd = NotifyFd.load(); fd >= 0)
            (void)!::write(fd, "!", 1);
    } else {
        // Asked again: no more waiting for the job to end in order.
        RemoveJobTemporaryFile();
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    errno = saved;
}

} // namespace

void CatchStopSignals(int notifyFd)
{
    NotifyFd = notifyFd;
    if (Installed)
        return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(Caught); ++i)
        ::sigaction(Caught[i], &action, &Previous[i]);
    // For the program's whole life: any write may meet the limit.
    std::signal(SIGXFSZ, SIG_IGN);
    Installed = true;
}

int CaughtStopSignal()
{
    return FirstSignal.load();
}

void ReleaseStopSignals()
{
    if (!Installed)
        return;
    for (std::size_t i = 0; i < std::size(Caught); ++i)
        ::sigaction(Caught[i], &Previous[i], nullptr);
    NotifyFd = -1;
    Installed = false;
}
