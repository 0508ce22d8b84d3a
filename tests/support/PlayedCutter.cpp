#include "tests/support/PlayedCutter.h"

#include <algorithm>
#include <cmath>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr char ESC = '\x1b';
constexpr char XON = 0x11;
constexpr char XOFF = 0x13;

// Device-control instructions that take parameters up to a colon.
bool TakesParameters(char letter)
{
    return letter == '@' || letter == 'H' || letter == 'I' || letter == 'M' || letter == 'N';
}

bool EndsInstruction(char c)
{
    return c == ';' || c == '\n' || c == '\r' || c == '\x03';
}

} // namespace

PlayedCutter::PlayedCutter(const Setup& setup) : FSetup(setup), FDrainedAt(Clock::now())
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0 || ::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0)
        return;
    const std::string path = ::ptsname(FMaster);
    // Held open so the program's closing its port is no hang-up for the cutter.
    FSlave = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FSlave < 0)
        return;
    termios t{};
    ::tcgetattr(FSlave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(FSlave, TCSANOW, &t);
    // Answers never wait on a program that does not read them.
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
    FPath = path;
    FThread = std::thread([this] { Serve(); });
}

PlayedCutter::~PlayedCutter()
{
    FQuit = true;
    if (FThread.joinable())
        FThread.join();
    if (FMaster >= 0)
        ::close(FMaster);
    if (FSlave >= 0)
        ::close(FSlave);
}

std::string PlayedCutter::Accepted() const
{
    std::lock_guard lock(FMutex);
    return FAccepted;
}

std::int64_t PlayedCutter::Dropped() const
{
    std::lock_guard lock(FMutex);
    return FDropped;
}

std::int64_t PlayedCutter::Questions() const
{
    std::lock_guard lock(FMutex);
    return FQuestions;
}

bool PlayedCutter::WaitForBytes(std::int64_t bytes, std::chrono::milliseconds quiet) const
{
    std::unique_lock lock(FMutex);
    for (;;) {
        const std::int64_t arrived = static_cast<std::int64_t>(FAccepted.size()) + FDropped;
        if (arrived >= bytes)
            return true;
        if (!FArrived.wait_for(lock, quiet, [&] {
                return static_cast<std::int64_t>(FAccepted.size()) + FDropped != arrived || FClosed;
            }))
            return false;
        if (FClosed)
            return static_cast<std::int64_t>(FAccepted.size()) + FDropped >= bytes;
    }
}

void PlayedCutter::StopAnswering()
{
    FSilent = true;
}

void PlayedCutter::HangUp()
{
    FHangUp = true;
    std::unique_lock lock(FMutex);
    FArrived.wait(lock, [&] { return FClosed || !FThread.joinable(); });
}

void PlayedCutter::Serve()
{
    char input[4096];
    while (!FQuit) {
        if (FHangUp) {
            ::close(FMaster);
            FMaster = -1;
            std::lock_guard lock(FMutex);
            FClosed = true;
            FArrived.notify_all();
            return;
        }
        // A cutter speaking XON/XOFF reads no further than its XOFF mark,
        // and nothing while it holds: the terminal carries bytes at once, so
        // what the sender writes after the XOFF waits in the terminal as it
        // would on a line, and is taken (or dropped) once the cutter goes on.
        std::int64_t most = sizeof input;
        if (FSetup.XoffAtFree >= 0)
            most = FHolding ? 0 : std::clamp<std::int64_t>(FSetup.BufferBytes - FLevel - FSetup.XoffAtFree, 1, most);
        pollfd p{FMaster, static_cast<short>(most > 0 ? POLLIN : 0), 0};
        if (::poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
            const ssize_t n = ::read(FMaster, input, static_cast<std::size_t>(most));
            if (n > 0)
                Take(input, n);
        }
        Drain();
        Flow();
    }
}

void PlayedCutter::Drain()
{
    const auto now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - FDrainedAt).count();
    FDrainedAt = now;
    if (FLevel == 0) {
        FDrainCredit = 0; // an empty buffer saves up nothing for later
        return;
    }
    FDrainCredit += seconds * static_cast<double>(FSetup.DrainPerSecond);
    const auto drained = std::min<std::int64_t>(FLevel, static_cast<std::int64_t>(std::floor(FDrainCredit)));
    FLevel -= drained;
    FDrainCredit -= static_cast<double>(drained);
}

void PlayedCutter::Flow()
{
    if (FSetup.XoffAtFree < 0)
        return;
    const std::int64_t free = FSetup.BufferBytes - FLevel;
    if (!FHolding && free <= FSetup.XoffAtFree) {
        FHolding = true;
        Say(std::string(1, XOFF));
    } else if (FHolding && free > FSetup.XonAtFree) {
        FHolding = false;
        Say(std::string(1, XON));
    }
}

void PlayedCutter::Take(const char* data, std::int64_t size)
{
    Drain();
    for (std::int64_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (FPending.empty()) {
            if (c == ESC || (c == 'O' && FAtStart))
                FPending = c;
            else
                TakeJobByte(c);
        } else if (FPending[0] == ESC) {
            // ESC . letter [parameters :]
            if (FPending.size() == 1) {
                if (c == '.')
                    FPending += c;
                else {
                    FPending.clear();
                    TakeJobByte(ESC);
                    TakeJobByte(c);
                }
            } else if (FPending.size() == 2) {
                if (c == 'B' || c == 'L' || c == 'O' || c == 'E') {
                    FPending.clear();
                    Answer(c);
                } else if (TakesParameters(c)) {
                    FPending += c;
                } else {
                    FPending.clear();
                }
            } else if (c == ':') {
                FPending.clear();
            }
        } else if (FPending.size() == 1 && (c == 'I' || c == 'S' || c == 'E')) {
            FPending += c;
        } else if (FPending.size() == 2 && c == ';') {
            const char asked = FPending[1];
            FPending.clear();
            Answer(asked == 'E' ? 'e' : asked == 'S' ? 's' : 'i');
        } else {
            // Not a question after all: the bytes are the job's.
            const std::string held = FPending;
            FPending.clear();
            for (const char each : held)
                TakeJobByte(each);
            Take(&c, 1);
        }
        Flow();
    }
}

void PlayedCutter::TakeJobByte(char c)
{
    {
        std::lock_guard lock(FMutex);
        if (FLevel < FSetup.BufferBytes) {
            ++FLevel;
            FAccepted += c;
        } else {
            ++FDropped;
            FOverflowed = true;
        }
    }
    FAtStart = EndsInstruction(c);
    FArrived.notify_all();
}

// 'B', 'L', 'O', 'E': ESC.B, ESC.L, ESC.O, ESC.E; 'i', 's', 'e': OI, OS, OE.
void PlayedCutter::Answer(char question)
{
    std::int64_t asked = 0;
    {
        std::lock_guard lock(FMutex);
        asked = ++FQuestions;
    }
    if (FSetup.Plays == Kind::Silent || FSilent
        || (FSetup.StopAnsweringAfter >= 0 && asked > FSetup.StopAnsweringAfter))
        return;
    Drain();
    const bool error = FSetup.Plays == Kind::ReportsError;
    const std::int64_t empty = FLevel == 0 ? 8 : 0;
    std::string text;
    switch (question) {
    case 'B': text = std::to_string(FSetup.BufferBytes - FLevel); break;
    case 'L': text = std::to_string(FSetup.BufferBytes); break;
    case 'O': text = std::to_string(empty + (error ? 32 : 0)); break;
    case 'E':
        text = std::to_string(error ? FSetup.LineError : FOverflowed ? 16 : 0);
        FOverflowed = false;
        break;
    case 'i': text = FSetup.Model; break;
    case 's': text = std::to_string(8 + 16 + (error ? 32 : 0)); break;
    case 'e': text = std::to_string(error ? FSetup.PlotError : 0); break;
    default: return;
    }
    text += '\r';
    if (FSetup.Plays == Kind::WrongSpeed)
        for (char& c : text)
            c = static_cast<char>((static_cast<unsigned char>(c) ^ 0x55) | 0x80);
    Say(text);
}

void PlayedCutter::Say(std::string text)
{
    std::size_t written = 0;
    while (written < text.size() && !FQuit && !FHangUp) {
        const ssize_t n = ::write(FMaster, text.data() + written, text.size() - written);
        if (n > 0)
            written += static_cast<std::size_t>(n);
        else {
            pollfd p{FMaster, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
}
