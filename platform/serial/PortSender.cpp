#include "platform/serial/PortSender.h"

#include "common/Exceptions.h"
#include "cutter/BufferHandshake.h"
#include "cutter/CutterLanguage.h"
#include "platform/JobProgress.h"
#include "platform/serial/PortQuestions.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char XOFF = 0x13;
constexpr char XON = 0x11;

// How often a held job looks again at the cutter, the stop flag and the clock.
constexpr milliseconds PollStep{20};

// How long a stopped job waits for the cutter to take the end of its
// instruction and the knife lift, before it is dropped where it stands.
constexpr milliseconds EndingLimit{5000};

std::mutex LimitsMutex;
PortTimeLimits Limits;

std::mutex OpenMutex;
std::map<std::string, int> OpenPorts; // path -> links holding it

// About 50 ms of line time: little enough that a cutter's XOFF is obeyed
// within a few hundred bytes, enough that a fast line is not all syscalls.
std::int64_t ChunkBytes(int baud)
{
    return std::clamp<std::int64_t>(baud / 10 / 20, 16, 4096);
}

speed_t SpeedCode(int baud)
{
    switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    default: return B9600;
    }
}

std::string SystemText(int code)
{
    return std::strerror(code);
}

// What the user can do about a port that would not open.
[[noreturn]] void ThrowOpenFailure(const std::string& path, int code)
{
    if (code == EACCES || code == EPERM) {
        std::string owners = "dialout";
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            if (const struct group* g = ::getgrgid(st.st_gid))
                owners = g->gr_name;
            else
                owners = std::to_string(st.st_gid);
        }
        throw EPrinter(Format("No permission to open the port %1. Its users are the group \"%2\": join it "
                              "with \"sudo usermod -aG %2 $USER\", then log out and in again",
                              Quoted(path), owners));
    }
    if (code == EBUSY || code == EWOULDBLOCK)
        throw EPrinter(
            Format("The port %1 is in use by another program; close that program and try again", Quoted(path)));
    if (code == ENOENT || code == ENODEV || code == ENXIO || code == EIO)
        throw EPrinter(Format("The port %1 is not there: check that the cutter (or its USB adapter) is "
                              "plugged in and switched on",
                              Quoted(path)));
    if (code == ENAMETOOLONG)
        throw EPrinter(Format("The port name %1 is longer than the system allows for a file name", Quoted(path)));
    throw EOSError::FromCode(code, SystemText(code));
}

// What a node is, for a refusal that says why it is not a port.
std::string NodeKind(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return "a regular file";
    if (S_ISBLK(st.st_mode))
        return "a block device (a disk or a partition)";
    if (S_ISDIR(st.st_mode))
        return "a folder";
    if (S_ISFIFO(st.st_mode))
        return "a named pipe";
    if (S_ISSOCK(st.st_mode))
        return "a socket";
    return "a character device that is neither a serial line nor a printer port";
}

[[noreturn]] void NotAPort(const std::string& path, const struct stat& st)
{
    throw EPrinter(Format("%1 is not a port: it is %2. A cutter's port is a serial line (such as "
                          "/dev/ttyUSB0, /dev/ttyACM0 or /dev/ttyS0) or a printer port (/dev/usb/lp0, "
                          "/dev/lp0)",
                          Quoted(path), NodeKind(st)));
}

// Parallel printer ports (major 6) and USB printer-class nodes (major 180,
// the first 16 minors): the kernel's own numbers for them.
bool PrinterPortNode(const struct stat& st)
{
    const unsigned kind = major(st.st_rdev);
    return S_ISCHR(st.st_mode) && (kind == 6 || (kind == 180 && minor(st.st_rdev) < 16));
}

// The kernel's word for a character device, where it has one ("tty",
// "mem", "watchdog", ...); empty for nodes it lists nowhere (pseudo-terminals).
std::string DeviceSubsystem(const struct stat& st)
{
    const std::string link = Format("/sys/dev/char/%1:%2/subsystem", major(st.st_rdev), minor(st.st_rdev));
    std::error_code error;
    const std::filesystem::path target = std::filesystem::read_symlink(link, error);
    return error ? std::string() : target.filename().string();
}

// The controlling terminal's device number, from the kernel's own record
// of this process (opening /dev/tty would only name /dev/tty); 0 for none.
dev_t ControllingTerminal()
{
    std::ifstream stat("/proc/self/stat", std::ios::binary);
    if (!stat)
        return 0;
    // "pid (name) state ppid pgrp session tty_nr ...": the name may hold blanks.
    const std::string line{std::istreambuf_iterator<char>(stat), std::istreambuf_iterator<char>()};
    const std::size_t close = line.rfind(')');
    const std::vector<std::string> fields = Words(close == std::string::npos ? line : line.substr(close + 1));
    unsigned number = 0;
    if (fields.size() > 4) {
        const std::string& field = fields[4];
        const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), number);
        if (error != std::errc() || end != field.data() + field.size())
            number = 0;
    }
    return number == 0 ? 0 : ::makedev((number >> 8) & 0xfff, (number & 0xff) | ((number >> 12) & 0xfff00));
}

// The program's own terminal, its standard streams' and the consoles: a job
// written there would be printed on the user's screen, and the terminal left
// raw. /dev/tty, /dev/console and /dev/ptmx are 5:0 to 5:2; the virtual
// consoles /dev/tty0 to /dev/tty63 are 4:0 to 4:63 (serial lines start at
// 4:64). Other pseudo-terminals stay ports: tools that carry a serial line
// over the network offer one.
bool OwnTerminal(const struct stat& st)
{
    if (!S_ISCHR(st.st_mode))
        return false;
    const unsigned kind = major(st.st_rdev), number = minor(st.st_rdev);
    if ((kind == 5 && number <= 2) || (kind == 4 && number < 64))
        return true;
    if (st.st_rdev == ControllingTerminal())
        return true;
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        struct stat stream {};
        if (::isatty(fd) == 1 && ::fstat(fd, &stream) == 0 && S_ISCHR(stream.st_mode) && stream.st_rdev == st.st_rdev)
            return true;
    }
    return false;
}

[[noreturn]] void NotAPortTerminal(const std::string& path)
{
    throw EPrinter(Format("%1 is this program's own terminal or a console, not a cutter's port. A cutter's "
                          "port is a serial line (such as /dev/ttyUSB0, /dev/ttyACM0 or /dev/ttyS0) or a "
                          "printer port (/dev/usb/lp0, /dev/lp0)",
                          Quoted(path)));
}

// Refuses, before it is opened, a node that cannot be a port: opening some
// devices does something by itself (a watchdog starts counting).
void CheckPortNode(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        ThrowOpenFailure(path, errno);
    if (!S_ISCHR(st.st_mode))
        NotAPort(path, st);
    if (OwnTerminal(st))
        NotAPortTerminal(path);
    // The USB class devices beside the printer ports (hiddev and the like)
    // are not opened at all, whether or not their driver is loaded.
    if (major(st.st_rdev) == 180 && !PrinterPortNode(st))
        NotAPort(path, st);
    const std::string subsystem = DeviceSubsystem(st);
    if (!subsystem.empty() && subsystem != "tty" && subsystem != "usbmisc" && subsystem != "printer")
        NotAPort(path, st);
}

tcflag_t DataBitsFlag(int bits)
{
    switch (bits) {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    default: return CS8;
    }
}

// A port as a file descriptor: termios for a serial line, plain writes for
// a USB printer node (its flow control is the USB protocol's own).
class FdLink final : public TPortLink {
public:
    FdLink(std::string path, int fd, bool tty, std::int64_t queueLimit)
        : FPath(std::move(path)), FFd(fd), FTty(tty), FQueueLimit(queueLimit)
    {
        std::lock_guard lock(OpenMutex);
        ++OpenPorts[FPath];
    }
    ~FdLink() override
    {
        if (FTty)
            ::ioctl(FFd, TIOCNXCL);
        ::close(FFd);
        std::lock_guard lock(OpenMutex);
        if (--OpenPorts[FPath] <= 0)
            OpenPorts.erase(FPath);
    }

    int Wait(bool wantWrite, milliseconds wait) override
    {
        // A serial line's own queue is kept short too, so what follows an
        // XOFF is at most a chunk or two, not the whole kernel buffer.
        bool room = true;
        if (wantWrite && FTty) {
            int queued = 0;
            if (::ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued > FQueueLimit) {
                room = false;
                wait = std::min(wait, milliseconds(5));
            }
        }
        // A printer port is read only when asked for an answer: a job never
        // waits on what it says.
        pollfd p{FFd, static_cast<short>((FTty || !wantWrite ? POLLIN : 0) | (wantWrite && room ? POLLOUT : 0)), 0};
        const int n = ::poll(&p, 1, static_cast<int>(wait.count()));
        if (n <= 0)
            return 0;
        int ready = 0;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            ready |= HungUp;
        if (p.revents & POLLIN)
            ready |= Readable;
        if (p.revents & POLLOUT)
            ready |= Writable;
        return ready;
    }

    std::int64_t Write(const char* data, std::int64_t size) override
    {
        const ssize_t n = ::write(FFd, data, static_cast<size_t>(size));
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        return n;
    }

    std::int64_t Read(char* data, std::int64_t size) override
    {
        const ssize_t n = ::read(FFd, data, static_cast<size_t>(size));
        if (n < 0)
            return errno == EAGAIN || errno == EINTR ? 0 : -1;
        // A terminal reads 0 bytes only once its other end has gone; a
        // printer port whenever the printer has nothing to say.
        return n == 0 && FTty ? -1 : n;
    }

    bool ClearToSend() override
    {
        int lines = 0;
        if (!FTty || ::ioctl(FFd, TIOCMGET, &lines) != 0)
            return true;
        return (lines & TIOCM_CTS) != 0;
    }

    Drained Drain(milliseconds limit) override
    {
        if (!FTty)
            return Drained::Yes;
        // tcdrain alone could wait for ever on a line held by CTS.
        const auto deadline = Clock::now() + limit;
        for (;;) {
            int queued = 0;
            if (::ioctl(FFd, TIOCOUTQ, &queued) != 0 || queued == 0)
                break;
            if (Clock::now() >= deadline)
                return Drained::TimedOut;
            pollfd p{FFd, 0, 0};
            if (::poll(&p, 1, 10) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
                return Drained::Lost;
        }
        return ::tcdrain(FFd) == 0 || errno == ENOTTY ? Drained::Yes : Drained::Lost;
    }

    std::string Name() const override { return FPath; }

    void Discard() override
    {
        if (FTty)
            ::tcflush(FFd, TCOFLUSH);
    }

    std::int64_t LineErrors() override
    {
        // The UART's own counts; pseudo-terminals and printer ports have none.
        serial_icounter_struct counts{};
        if (!FTty || ::ioctl(FFd, TIOCGICOUNT, &counts) != 0)
            return -1;
        return std::int64_t{counts.frame} + counts.parity + counts.overrun + counts.buf_overrun;
    }

private:
    std::string FPath;
    int FFd;
    bool FTty;
    std::int64_t FQueueLimit;
};

void SetUpLine(int fd, const std::string& path, const PortSettings& s)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        const int code = errno;
        ::close(fd);
        throw EOSError::FromCode(code, SystemText(code));
    }
    ::cfmakeraw(&t);
    // XON/XOFF is read by the sender itself; the driver must pass it through.
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | DataBitsFlag(s.DataBits);
    if (s.Parity != 'N')
        t.c_cflag |= PARENB | (s.Parity == 'O' ? PARODD : 0);
    if (s.StopBits == 2)
        t.c_cflag |= CSTOPB;
    if (s.Flow == FlowControl::RtsCts)
        t.c_cflag |= CRTSCTS;
    ::cfsetispeed(&t, SpeedCode(s.Baud));
    ::cfsetospeed(&t, SpeedCode(s.Baud));
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EINVAL)
            throw EPrinter(Format("The port %1 cannot be set to %2", path, PortSettingsText(s)));
        throw EOSError::FromCode(code, SystemText(code));
    }
}

[[noreturn]] void NotCompleted(const TPortLink& link, const std::string& why, std::int64_t sent, std::int64_t total)
{
    throw EPrinter(Format("The job to %1 was not completed (%2 of %3 bytes sent): %4", link.Name(), sent, total, why));
}

// A job the cutter held too long still ends with the knife up where the port
// takes bytes: the pair under way finished and the tool lifted, within limit.
void LiftKnife(TPortLink& link, SendAs language, std::string_view job, std::int64_t sent, milliseconds limit)
{
    const CutterJobEnding end = StoppedJobEnding(language, job, sent);
    const std::string ending =
        std::string(job.substr(static_cast<std::size_t>(sent), static_cast<std::size_t>(end.More))) + end.Close;
    const auto deadline = Clock::now() + limit;
    for (std::size_t written = 0; written < ending.size() && Clock::now() < deadline;) {
        const int ready = link.Wait(true, PollStep);
        if (ready & TPortLink::HungUp)
            return;
        if (!(ready & TPortLink::Writable))
            continue;
        const std::int64_t n = link.Write(ending.data() + written, static_cast<std::int64_t>(ending.size() - written));
        if (n < 0)
            return;
        written += static_cast<std::size_t>(n);
    }
}

} // namespace

bool TPortLink::Stopped() const
{
    return FStopMark.Stopped();
}

std::unique_ptr<TPortLink> OpenPort(const std::string& path, const PortSettings& settings)
{
    CheckPortNode(path);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        ThrowOpenFailure(path, errno);
    // Judged again on what was opened: the path may have changed since.
    struct stat st {};
    const bool tty = ::isatty(fd) == 1;
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || (!tty && !PrinterPortNode(st))) {
        ::close(fd);
        NotAPort(path, st);
    }
    if (OwnTerminal(st) || (tty && ::tcgetsid(fd) == ::getsid(0))) {
        ::close(fd);
        NotAPortTerminal(path);
    }
    // Another job of ours, or a program that locks the same way, has it.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(fd);
        ThrowOpenFailure(path, code);
    }
    if (tty) {
        // Terminal programs that do not lock still find the port busy.
        ::ioctl(fd, TIOCEXCL);
        SetUpLine(fd, path, settings);
        ::tcflush(fd, TCIOFLUSH);
    }
    return std::make_unique<FdLink>(path, fd, tty, ChunkBytes(settings.Baud));
}

void SendToPort(TPortLink& link, const PortSettings& settings, std::string_view job, SendAs language)
{
    const milliseconds limit = CurrentPortTimeLimits().Hold;
    const std::int64_t chunk = ChunkBytes(settings.Baud);
    const auto total = static_cast<std::int64_t>(job.size());
    const std::string seconds = Number(static_cast<double>(limit.count()) / 1000.0);
    std::int64_t sent = 0;
    // Once stopped: what is still to go (the rest of the pair under way and
    // the tool lifted) and how much of it went.
    std::string ending;
    std::int64_t endingSent = -1;
    auto stoppedAt = Clock::now();
    bool held = false;
    auto heldSince = Clock::now();
    auto lastProgress = Clock::now();
    char input[256];
    BeginJobProgress(total);
    struct ProgressEnd {
        ~ProgressEnd() { EndJobProgress(); }
    } progressEnd;
    // Asking the cutter: each block ends at blockEnd of the text under way
    // (the job, or once stopped its ending), and the cutter is asked again
    // there. Each answer is waited for no longer than the hold limit.
    std::optional<TBufferHandshake> handshake;
    std::int64_t blockEnd = total;
    const auto ask = [&](const CutterAsk& question) {
        return AskCutter(link, question.Bytes, question.Terminator, std::min(AnswerLimit, limit));
    };
    if (const std::string problem = HandshakeProblem(language, settings.Flow); !problem.empty())
        throw EPrinter(problem);
    if (settings.Flow == FlowControl::Query) {
        handshake = TBufferHandshake::Start(language, ask);
        blockEnd = 0;
        lastProgress = Clock::now();
    }
    while (endingSent < 0 ? sent < total : endingSent < static_cast<std::int64_t>(ending.size())) {
        if (endingSent < 0 && link.Stopped()) {
            if (language == SendAs::Driver) {
                // What the port still holds would keep the cutter busy after
                // the user asked it to stop.
                link.Discard();
                ThrowJobStopped(sent, total);
            }
            // Never dropped mid-instruction: the cutter would be left with
            // its knife down, or cut to half a number.
            const CutterJobEnding end = StoppedJobEnding(language, job, sent);
            ending =
                std::string(job.substr(static_cast<std::size_t>(sent), static_cast<std::size_t>(end.More))) + end.Close;
            endingSent = 0;
            // The ending takes what room the cutter has left, then asks.
            if (handshake)
                blockEnd = BlockBytes(language, ending, 0, blockEnd - sent);
            sent += end.More;
            stoppedAt = Clock::now();
            continue;
        }
        if (endingSent >= 0 && Clock::now() - stoppedAt > EndingLimit) {
            link.Discard();
            ThrowJobStopped(sent, total, "the cutter took nothing more, so its knife may still be down");
        }
        const std::string_view text = endingSent < 0 ? job : std::string_view(ending);
        const std::int64_t at = endingSent < 0 ? sent : endingSent;
        if (handshake && at == blockEnd) {
            const CutterReply reply = ask(handshake->Question());
            if (reply.Lost)
                NotCompleted(link, "the cutter was disconnected", sent, total);
            if (const std::int64_t block = handshake->Answered(text, at, reply); block > 0) {
                blockEnd = at + block;
                continue;
            }
            if (endingSent < 0 && Clock::now() - lastProgress > limit) {
                LiftKnife(link, language, job, sent, std::min(limit, EndingLimit));
                NotCompleted(link, Format("the cutter held it (%1) for more than %2 s", handshake->HeldBy(), seconds),
                             sent, total);
            }
            // Room comes as the cutter works: a moment, then ask again.
            link.Wait(false, PollStep);
            continue;
        }
        const bool clear = settings.Flow != FlowControl::RtsCts || link.ClearToSend();
        const int ready = link.Wait(!held && clear, PollStep);
        if (ready & TPortLink::Readable) {
            const std::int64_t n = link.Read(input, sizeof input);
            if (n < 0)
                NotCompleted(link, "the cutter was disconnected", sent, total);
            // The last of XON and XOFF in what arrived is the cutter's word.
            for (std::int64_t i = 0; settings.Flow == FlowControl::XonXoff && i < n; ++i) {
                if (input[i] == XOFF && !held) {
                    held = true;
                    heldSince = Clock::now();
                } else if (input[i] == XON && held) {
                    held = false;
                    lastProgress = Clock::now();
                }
            }
        }
        if (ready & TPortLink::HungUp)
            NotCompleted(link, "the cutter was disconnected", sent, total);
        const auto now = Clock::now();
        if (held) {
            if (now - heldSince > limit)
                NotCompleted(link, Format("the cutter held it (XOFF) for more than %1 s", seconds), sent, total);
            continue;
        }
        if (clear && (ready & TPortLink::Writable)) {
            const std::int64_t most = (handshake ? blockEnd : static_cast<std::int64_t>(text.size())) - at;
            const std::int64_t n = link.Write(text.data() + at, std::min(chunk, most));
            if (n < 0)
                NotCompleted(link, "the cutter was disconnected", sent, total);
            if (n > 0) {
                if (endingSent < 0) {
                    sent += n;
                    AddJobProgress(n);
                } else {
                    endingSent += n;
                }
                lastProgress = now;
                continue;
            }
        }
        if (now - lastProgress > limit)
            NotCompleted(link,
                         clear ? Format("the port took nothing for %1 s", seconds)
                               : Format("the cutter held it (CTS) for more than %1 s", seconds),
                         sent, total);
    }
    switch (link.Drain(limit)) {
    case TPortLink::Drained::Yes: break;
    case TPortLink::Drained::TimedOut:
        NotCompleted(link, Format("its last bytes did not leave the port within %1 s", seconds), sent, total);
    case TPortLink::Drained::Lost: NotCompleted(link, "the cutter was disconnected", sent, total);
    }
    if (endingSent >= 0)
        ThrowJobStopped(sent, total);
}

void SetPortTimeLimits(const PortTimeLimits& limits)
{
    std::lock_guard lock(LimitsMutex);
    Limits = limits;
}

PortTimeLimits CurrentPortTimeLimits()
{
    std::lock_guard lock(LimitsMutex);
    return Limits;
}

void StopPortJobs()
{
    StopJobs();
}

bool PortSending(const std::string& path)
{
    std::lock_guard lock(OpenMutex);
    return OpenPorts.count(path) > 0;
}
