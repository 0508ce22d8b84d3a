#include "platform/windows/WinPort.h"

#include "common/Exceptions.h"
#include "cutter/BufferHandshake.h"
#include "cutter/CutterLanguage.h"
#include "platform/JobProgress.h"
#include "platform/serial/PortQuestions.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a held job looks again at the stop flag and the clock.
constexpr DWORD PollStepMs = 20;

// How long a stopped job waits for the cutter to take the end of its
// instruction and the knife lift, before it is dropped where it stands.
constexpr milliseconds EndingLimit{5000};

std::mutex LimitsMutex;
PortTimeLimits Limits;

std::mutex PortsMutex;
std::map<std::string, int> OpenPorts; // upper-case name -> links holding it

// About 50 ms of line time, as on Linux: a cutter's XOFF holds back at most
// that much, and a fast line is not all calls.
DWORD ChunkBytes(int baud)
{
    return static_cast<DWORD>(std::clamp(baud / 10 / 20, 16, 4096));
}

// "COM3" for any spelling of it.
std::string PortKey(std::string_view device)
{
    if (device.size() > 4 && device.substr(0, 4) == R"(\\.\)")
        device.remove_prefix(4);
    std::string key(device);
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

std::string Seconds(milliseconds limit)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(limit.count()) / 1000.0);
    return text;
}

struct Overlapped {
    OVERLAPPED O{};
    Overlapped() { O.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(O.hEvent); }
};

class ComPort final : public TComPort {
public:
    ComPort(std::string name, HANDLE h) : FName(std::move(name)), FKey(PortKey(FName)), FHandle(h)
    {
        std::lock_guard lock(PortsMutex);
        ++OpenPorts[FKey];
    }
    ~ComPort() override
    {
        CloseHandle(FHandle);
        std::lock_guard lock(PortsMutex);
        if (--OpenPorts[FKey] <= 0)
            OpenPorts.erase(FKey);
    }
    const std::string& Name() const override { return FName; }
    HANDLE Handle() const { return FHandle; }

private:
    std::string FName;
    std::string FKey;
    HANDLE FHandle;
};

[[noreturn]] void NotCompleted(const TComPort& port, const std::string& why, std::int64_t sent, std::int64_t total)
{
    throw EPrinter("The job to " + port.Name() + " was not completed (" + std::to_string(sent) + " of "
                   + std::to_string(total) + " bytes sent): " + why);
}

[[noreturn]] void ThrowOpenFailure(const std::string& name, DWORD code)
{
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_BUSY)
        throw EPrinter("The port " + Quoted(name) + " is in use by another program; close that program and try again");
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_DEV_NOT_EXIST
        || code == ERROR_DEVICE_NOT_CONNECTED || code == ERROR_NOT_READY)
        throw EPrinter("The port " + Quoted(name)
                       + " is not there: check that the cutter (or its USB adapter) is plugged in and switched on");
    SetLastError(code);
    throw LastOSError();
}

void SetUpLine(HANDLE h, const std::string& name, const PortSettings& s)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(h, &dcb))
        throw LastOSError();
    dcb.BaudRate = static_cast<DWORD>(s.Baud);
    dcb.ByteSize = static_cast<BYTE>(s.DataBits);
    dcb.Parity = s.Parity == 'E' ? EVENPARITY : s.Parity == 'O' ? ODDPARITY : NOPARITY;
    dcb.StopBits = s.StopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = s.Parity != 'N';
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // The device obeys the cutter's XOFF itself, at once, with what it
    // still holds; nothing is asked of the cutter in return.
    dcb.fOutX = s.Flow == FlowControl::XonXoff;
    dcb.fInX = FALSE;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fOutxCtsFlow = s.Flow == FlowControl::RtsCts;
    dcb.fRtsControl = s.Flow == FlowControl::RtsCts ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    if (!SetCommState(h, &dcb)) {
        if (GetLastError() == ERROR_INVALID_PARAMETER)
            throw EPrinter("The port " + name + " cannot be set to " + PortSettingsText(s));
        throw LastOSError();
    }
    // Reads return at once with what is there; writes are waited for here,
    // in steps, not by the device's own timeouts.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 0};
    if (!SetCommTimeouts(h, &timeouts))
        throw LastOSError();
    PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
}

// Why the port takes nothing, in the words the Linux port uses.
std::string HoldReason(HANDLE h, milliseconds limit)
{
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(h, &errors, &status);
    if (status.fXoffHold)
        return "the cutter held it (XOFF) for more than " + Seconds(limit) + " s";
    if (status.fCtsHold)
        return "the cutter held it (CTS) for more than " + Seconds(limit) + " s";
    return "the port took nothing for " + Seconds(limit) + " s";
}

// Drops a write in progress and what the port holds.
void Abandon(HANDLE h, Overlapped& write)
{
    CancelIoEx(h, &write.O);
    DWORD n = 0;
    GetOverlappedResult(h, &write.O, &n, TRUE);
    PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
}

// A job the cutter held too long still ends with the knife up where the port
// takes bytes: the pair under way finished and the tool lifted, within limit.
void LiftKnife(HANDLE h, SendAs language, std::string_view job, std::int64_t sent, milliseconds limit)
{
    const CutterJobEnding end = StoppedJobEnding(language, job, sent);
    const std::string ending =
        std::string(job.substr(static_cast<std::size_t>(sent), static_cast<std::size_t>(end.More))) + end.Close;
    if (ending.empty())
        return;
    Overlapped write;
    DWORD n = 0;
    if (!WriteFile(h, ending.data(), static_cast<DWORD>(ending.size()), &n, &write.O)
        && GetLastError() == ERROR_IO_PENDING
        && WaitForSingleObject(write.O.hEvent, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0)
        Abandon(h, write);
}

} // namespace

bool IsComPortName(std::string_view device)
{
    const std::string key = PortKey(device);
    if (key.size() < 4 || key.size() > 6 || key.compare(0, 3, "COM") != 0 || key[3] == '0')
        return false;
    for (size_t i = 3; i < key.size(); ++i)
        if (key[i] < '0' || key[i] > '9')
            return false;
    return std::atoi(key.c_str() + 3) <= 256;
}

std::vector<std::string> ListComPorts()
{
    std::vector<wchar_t> names(65536);
    DWORD n = 0;
    while ((n = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()))) == 0
           && GetLastError() == ERROR_INSUFFICIENT_BUFFER && names.size() < (1u << 24))
        names.resize(names.size() * 2);
    std::vector<std::string> ports;
    for (size_t at = 0; at < n && names[at] != L'\0'; at += wcslen(&names[at]) + 1) {
        const std::string name = Utf8(&names[at]);
        if (IsComPortName(name) && name.find('\\') == std::string::npos)
            ports.push_back(name);
    }
    // And those the serial drivers announce, in case a name is not made yet.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t value[256], data[32] = {};
            DWORD valueSize = 256, dataSize = sizeof data - sizeof(wchar_t), type = 0;
            const LONG result =
                RegEnumValueW(key, i, value, &valueSize, nullptr, &type, reinterpret_cast<BYTE*>(data), &dataSize);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            if (result == ERROR_SUCCESS && type == REG_SZ && IsComPortName(Utf8(data)))
                ports.push_back(Utf8(data));
        }
        RegCloseKey(key);
    }
    return ComPortsInOrder(std::move(ports));
}

std::vector<std::string> ComPortsInOrder(std::vector<std::string> names)
{
    for (std::string& name : names)
        name = PortKey(name);
    // By number: as text, COM10 would come before COM2.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return std::atoi(a.c_str() + 3) < std::atoi(b.c_str() + 3);
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::unique_ptr<TComPort> OpenComPort(const std::string& name, const PortSettings& settings)
{
    if (!IsComPortName(name))
        throw EPrinter(Quoted(name) + " is not a port. A cutter's port is a COM port, such as COM3");
    const std::wstring path = L"\\\\.\\" + Wide(PortKey(name));
    // No sharing: another program finds the port in use for as long as the
    // job holds it.
    const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        ThrowOpenFailure(name, GetLastError());
    auto port = std::make_unique<ComPort>(name, h);
    // A COM name the system maps to something that is no device: the port's
    // own device is missing (Wine: a dosdevices link to a file).
    if (GetFileType(h) != FILE_TYPE_CHAR)
        ThrowOpenFailure(name, ERROR_DEV_NOT_EXIST);
    SetUpLine(h, name, settings);
    return port;
}

void SendToComPort(TComPort& port, const PortSettings& settings, std::string_view job, SendAs language)
{
    const HANDLE h = static_cast<ComPort&>(port).Handle();
    const milliseconds limit = CurrentPortTimeLimits().Hold;
    const DWORD chunk = ChunkBytes(settings.Baud);
    const auto total = static_cast<std::int64_t>(job.size());
    const TStopMark stop;
    std::int64_t sent = 0;
    // Once stopped: what is still to go (the rest of the pair under way and
    // the tool lifted) and how much of it went.
    std::string ending;
    std::int64_t endingSent = -1;
    auto stoppedAt = Clock::now();
    BeginJobProgress(total);
    struct ProgressEnd {
        ~ProgressEnd() { EndJobProgress(); }
    } progressEnd;
    Overlapped write;
    auto lastProgress = Clock::now();
    // Asking the cutter, as on Linux: each block ends at blockEnd of the text
    // under way (the job, or once stopped its ending), and the cutter is
    // asked again there, each answer waited for no longer than the limit.
    std::optional<TBufferHandshake> handshake;
    std::int64_t blockEnd = total;
    const auto ask = [&](const CutterAsk& question) {
        return AskComCutter(port, question.Bytes, question.Terminator, std::min(AnswerLimit, limit));
    };
    if (const std::string problem = HandshakeProblem(language, settings.Flow); !problem.empty())
        throw EPrinter(problem);
    if (settings.Flow == FlowControl::Query) {
        handshake = TBufferHandshake::Start(language, ask);
        blockEnd = 0;
        lastProgress = Clock::now();
    }
    while (endingSent < 0 ? sent < total : endingSent < static_cast<std::int64_t>(ending.size())) {
        if (endingSent < 0 && stop.Stopped()) {
            if (language == SendAs::Driver) {
                // What the port still holds would keep the cutter busy after
                // the user asked it to stop.
                PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
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
        const std::string_view text = endingSent < 0 ? job : std::string_view(ending);
        const std::int64_t at = endingSent < 0 ? sent : endingSent;
        if (handshake && at == blockEnd) {
            if (endingSent >= 0 && Clock::now() - stoppedAt > EndingLimit)
                ThrowJobStopped(sent, total, "the cutter took nothing more, so its knife may still be down");
            const CutterReply reply = ask(handshake->Question());
            if (reply.Lost)
                NotCompleted(port, "the cutter was disconnected", sent, total);
            if (const std::int64_t block = handshake->Answered(text, at, reply); block > 0) {
                blockEnd = at + block;
                continue;
            }
            if (endingSent < 0 && Clock::now() - lastProgress > limit) {
                LiftKnife(h, language, job, sent, std::min(limit, EndingLimit));
                NotCompleted(port,
                             "the cutter held it (" + handshake->HeldBy() + ") for more than " + Seconds(limit) + " s",
                             sent, total);
            }
            // Room comes as the cutter works: a moment, then ask again.
            Sleep(PollStepMs);
            continue;
        }
        const char* data = text.data() + at;
        const std::int64_t left = (handshake ? blockEnd : static_cast<std::int64_t>(text.size())) - at;
        const DWORD size = static_cast<DWORD>(std::min<std::int64_t>(chunk, left));
        ResetEvent(write.O.hEvent);
        DWORD n = 0;
        if (!WriteFile(h, data, size, &n, &write.O)) {
            if (GetLastError() != ERROR_IO_PENDING)
                NotCompleted(port, "the cutter was disconnected", sent, total);
            // Held while the cutter says XOFF or drops CTS: the device does
            // not send, so the write waits, a step at a time. A job in a
            // cutter's language lets its write finish once stopped, so the
            // instruction under way is not cut.
            const auto began = Clock::now();
            while (WaitForSingleObject(write.O.hEvent, PollStepMs) == WAIT_TIMEOUT) {
                if (language == SendAs::Driver && stop.Stopped()) {
                    Abandon(h, write);
                    ThrowJobStopped(sent, total);
                }
                if (endingSent >= 0 && Clock::now() - stoppedAt > EndingLimit) {
                    Abandon(h, write);
                    ThrowJobStopped(sent, total, "the cutter took nothing more, so its knife may still be down");
                }
                if (Clock::now() - began > limit) {
                    const std::string why = HoldReason(h, limit);
                    Abandon(h, write);
                    NotCompleted(port, why, sent, total);
                }
            }
            if (!GetOverlappedResult(h, &write.O, &n, FALSE))
                NotCompleted(port, "the cutter was disconnected", sent, total);
        }
        if (n == 0) {
            // A port that keeps taking nothing without saying so.
            if (Clock::now() - lastProgress > limit)
                NotCompleted(port, HoldReason(h, limit), sent, total);
            if (endingSent >= 0 && Clock::now() - stoppedAt > EndingLimit) {
                PurgeComm(h, PURGE_TXABORT | PURGE_TXCLEAR);
                ThrowJobStopped(sent, total, "the cutter took nothing more, so its knife may still be down");
            }
            Sleep(PollStepMs);
            continue;
        }
        if (endingSent < 0) {
            sent += n;
            AddJobProgress(n);
        } else {
            endingSent += n;
        }
        lastProgress = Clock::now();
    }
    // The last bytes leave the port before it is closed, within the limit
    // (a line held by CTS would keep FlushFileBuffers waiting for ever).
    const auto deadline = Clock::now() + limit;
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h, &errors, &status))
            NotCompleted(port, "the cutter was disconnected", sent, total);
        if (status.cbOutQue == 0)
            break;
        if (Clock::now() >= deadline)
            NotCompleted(port, "its last bytes did not leave the port within " + Seconds(limit) + " s", sent, total);
        Sleep(10);
    }
    if (!FlushFileBuffers(h))
        NotCompleted(port, "the cutter was disconnected", sent, total);
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

bool PortSending(const std::string& name)
{
    std::lock_guard lock(PortsMutex);
    return OpenPorts.count(PortKey(name)) > 0;
}

std::string NotAPortToAsk(const std::string& device)
{
    return '"' + Quoted(device)
           + "\" is not a port: only a cutter on a COM port (such as COM3) can be asked; a printer of the spooler "
             "cannot carry its answers";
}

CutterReply AskComCutter(TComPort& port, std::string_view question, char terminator, milliseconds limit)
{
    const HANDLE h = static_cast<ComPort&>(port).Handle();
    const auto deadline = Clock::now() + limit;
    // Only what the port holds is read, so no read waits for the cutter
    // (Wine's overlapped reads do not return at once when the port is empty).
    bool fault = false;
    const auto read = [h, &fault](char* data, DWORD size) -> std::int64_t {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h, &errors, &status))
            return -1;
        fault = fault || (errors & (CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER)) != 0;
        if (status.cbInQue == 0)
            return 0;
        Overlapped o;
        DWORD n = 0;
        if (!ReadFile(h, data, std::min<DWORD>(size, status.cbInQue), &n, &o.O)
            && (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &o.O, &n, TRUE)))
            return -1;
        return n;
    };
    CutterReply reply;
    char input[64];
    // A late answer to an earlier question is not this one's.
    PurgeComm(h, PURGE_RXCLEAR);
    DWORD errors = 0;
    COMSTAT status{};
    ClearCommError(h, &errors, &status);
    Overlapped write;
    DWORD written = 0;
    if (!WriteFile(h, question.data(), static_cast<DWORD>(question.size()), &written, &write.O)) {
        if (GetLastError() != ERROR_IO_PENDING) {
            reply.Lost = true;
            return reply;
        }
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (WaitForSingleObject(write.O.hEvent, static_cast<DWORD>(std::max<std::int64_t>(0, left.count())))
            != WAIT_OBJECT_0) {
            Abandon(h, write);
            return reply; // the port never took it: as good as no answer
        }
        if (!GetOverlappedResult(h, &write.O, &written, FALSE)) {
            reply.Lost = true;
            return reply;
        }
    }
    CutterReplyReader reader(terminator);
    auto lastByte = Clock::now();
    // Garbled bytes end the wait once the line falls quiet: the answer is
    // garbled however much more comes.
    constexpr milliseconds QuietAfterNoise{100};
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline || (reader.Noisy() && now - lastByte >= QuietAfterNoise))
            break;
        const std::int64_t n = read(input, sizeof input);
        if (n < 0) {
            reader.Reply.Lost = true;
            break;
        }
        if (n == 0) {
            Sleep(10);
            continue;
        }
        lastByte = Clock::now();
        if (reader.Take(std::string_view(input, static_cast<std::size_t>(n))))
            break;
    }
    reply = std::move(reader.Reply);
    reply.LineFault = fault;
    return reply;
}

std::vector<CutterAnswer> AskCutterOnPort(const std::string& device, const PortSettings& line, SendAs language,
                                          milliseconds limit, bool stopWhenSilent)
{
    if (!IsComPortName(device))
        throw EPrinter(NotAPortToAsk(device));
    const std::unique_ptr<TComPort> port = OpenComPort(device, line);
    return AskAll(
        language, [&](const CutterAsk& ask) { return AskComCutter(*port, ask.Bytes, ask.Terminator, limit); },
        stopWhenSilent);
}
