#include "platform/windows/WinSpooler.h"

#include "platform/windows/Win32.h"
#include "platform/windows/WinText.h"

#include <algorithm>

namespace {

struct WinQueueHandle final : SpoolerHandle {
    HANDLE H = nullptr;
    ~WinQueueHandle() override { ClosePrinter(H); }
};

void NoteFailure(DWORD code)
{
    SetLastSpoolerError({static_cast<int>(code), SystemErrorText(code)});
}

std::string Text(const wchar_t* text)
{
    return text ? Utf8(text) : std::string();
}

// A winspool call that fills a caller's buffer: asked for the size first,
// then again with that much room (again if it grew in between).
template <typename Call>
bool Filled(std::vector<BYTE>& buffer, Call call)
{
    DWORD needed = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (call(buffer.empty() ? nullptr : buffer.data(), static_cast<DWORD>(buffer.size()), &needed))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer.size())
            return false;
        buffer.assign(needed, 0);
    }
    return false;
}

// Status bits in the words of the status line, first match.
struct StatusWord {
    DWORD Bit;
    const char* Text;
    const char* Reason; // the server's keyword for it, as a CUPS queue reports
};
constexpr StatusWord StatusWords[] = {
    {PRINTER_STATUS_PAUSED, "Paused", nullptr},
    {PRINTER_STATUS_PENDING_DELETION, "Deleting", nullptr},
    {PRINTER_STATUS_OFFLINE, "Offline", "offline-report"},
    {PRINTER_STATUS_NOT_AVAILABLE, "Not available", "offline-report"},
    {PRINTER_STATUS_SERVER_UNKNOWN, "Server unknown", "offline-report"},
    {PRINTER_STATUS_ERROR, "Error", "other-error"},
    {PRINTER_STATUS_PAPER_OUT, "Paper out", "media-empty-error"},
    {PRINTER_STATUS_PAPER_JAM, "Paper jam", "media-jam-error"},
    {PRINTER_STATUS_PAPER_PROBLEM, "Paper problem", "media-needed-error"},
    {PRINTER_STATUS_DOOR_OPEN, "Door open", "door-open-error"},
    {PRINTER_STATUS_NO_TONER, "No toner", "toner-empty-error"},
    {PRINTER_STATUS_OUTPUT_BIN_FULL, "Output bin full", "output-area-full-error"},
    {PRINTER_STATUS_USER_INTERVENTION, "User intervention", "other-error"},
    {PRINTER_STATUS_OUT_OF_MEMORY, "Out of memory", "other-error"},
    {PRINTER_STATUS_PRINTING | PRINTER_STATUS_PROCESSING, "Printing", nullptr},
    {PRINTER_STATUS_BUSY, "Busy", nullptr},
    {PRINTER_STATUS_WAITING, "Waiting", nullptr},
    {PRINTER_STATUS_INITIALIZING | PRINTER_STATUS_WARMING_UP, "Warming up", nullptr},
    {PRINTER_STATUS_IO_ACTIVE, "Printing", nullptr},
};

PrinterInfo2 InfoFrom(const PRINTER_INFO_2W& p)
{
    PrinterInfo2 info;
    if (p.pPrinterName)
        info.PrinterName = Utf8(p.pPrinterName);
    info.DriverName = Text(p.pDriverName);
    info.PortName = Text(p.pPortName);
    info.Location = Text(p.pLocation);
    info.Comment = Text(p.pComment);
    info.StatusText = "Ready";
    bool worded = false;
    for (const StatusWord& w : StatusWords) {
        if (!(p.Status & w.Bit))
            continue;
        if (!worded)
            info.StatusText = w.Text;
        worded = true;
        if (w.Reason
            && std::find(info.StateReasons.begin(), info.StateReasons.end(), w.Reason) == info.StateReasons.end())
            info.StateReasons.push_back(w.Reason);
    }
    info.Stopped = (p.Status & PRINTER_STATUS_PAUSED) != 0;
    return info;
}

constexpr DWORD FinishedJob = JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE | JOB_STATUS_DELETED;

JobState StateOf(DWORD status)
{
    if (status & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE))
        return JobState::Completed;
    if (status & (JOB_STATUS_DELETED | JOB_STATUS_DELETING))
        return JobState::Canceled;
    if (status
        & (JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT | JOB_STATUS_BLOCKED_DEVQ
           | JOB_STATUS_USER_INTERVENTION))
        return JobState::Stopped;
    if (status & JOB_STATUS_PAUSED)
        return JobState::Held;
    if (status & (JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING))
        return JobState::Processing;
    return JobState::Pending;
}

} // namespace

std::unique_ptr<SpoolerHandle> OpenQueue(const std::string& name)
{
    // An empty name would open the print server itself.
    if (name.empty()) {
        NoteFailure(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    std::wstring wide = Wide(name);
    auto handle = std::make_unique<WinQueueHandle>();
    if (!OpenPrinterW(wide.data(), &handle->H, nullptr)) {
        NoteFailure(GetLastError());
        return nullptr;
    }
    return handle;
}

void* QueueHandleOf(SpoolerHandle& handle)
{
    return static_cast<WinQueueHandle&>(handle).H;
}

std::optional<PrinterInfo2> QueueRecord(SpoolerHandle& handle)
{
    const HANDLE h = static_cast<WinQueueHandle&>(handle).H;
    std::vector<BYTE> buffer;
    if (!Filled(buffer, [&](BYTE* b, DWORD size, DWORD* needed) { return GetPrinterW(h, 2, b, size, needed); })) {
        NoteFailure(GetLastError());
        return std::nullopt;
    }
    return InfoFrom(*reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data()));
}

std::optional<int> QueueJobs(SpoolerHandle& handle, int firstJob, int maxJobs)
{
    const HANDLE h = static_cast<WinQueueHandle&>(handle).H;
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    const auto first = static_cast<DWORD>(firstJob < 0 ? 0 : firstJob);
    const auto most = static_cast<DWORD>(maxJobs < 0 ? 0 : maxJobs);
    if (!Filled(buffer, [&](BYTE* b, DWORD size, DWORD* needed) {
            return EnumJobsW(h, first, most, 1, b, size, needed, &returned);
        })) {
        NoteFailure(GetLastError());
        return std::nullopt;
    }
    const auto* jobs = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    int count = 0;
    for (DWORD i = 0; i < returned; ++i)
        if (!(jobs[i].Status & FinishedJob))
            ++count;
    return count;
}

std::optional<JobRecord> QueueJob(SpoolerHandle& handle, int jobId)
{
    const HANDLE h = static_cast<WinQueueHandle&>(handle).H;
    std::vector<BYTE> buffer;
    if (!Filled(buffer, [&](BYTE* b, DWORD size, DWORD* needed) {
            return GetJobW(h, static_cast<DWORD>(jobId), 1, b, size, needed);
        })) {
        const DWORD code = GetLastError();
        if (code == ERROR_INVALID_PARAMETER)
            return JobRecord{JobState::Completed, {}};
        NoteFailure(code);
        return std::nullopt;
    }
    const auto& job = *reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
    return JobRecord{StateOf(job.Status), Text(job.pStatus)};
}

std::vector<DestinationInfo> ListDestinations()
{
    const std::string defaultName = DefaultPrinterName();
    std::vector<BYTE> buffer;
    DWORD returned = 0;
    if (!Filled(buffer, [&](BYTE* b, DWORD size, DWORD* needed) {
            return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, b, size, needed, &returned);
        })) {
        NoteFailure(GetLastError());
        throw LastOSError();
    }
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    const std::wstring defaultWide = Wide(defaultName);
    std::vector<DestinationInfo> list;
    for (DWORD i = 0; i < returned; ++i) {
        DestinationInfo d;
        d.Info = InfoFrom(printers[i]);
        d.Name = d.Info.PrinterName.value_or(std::string());
        // Printer names are the same in any case.
        d.IsDefault =
            !defaultWide.empty() && printers[i].pPrinterName
            && CompareStringOrdinal(printers[i].pPrinterName, -1, defaultWide.c_str(), -1, TRUE) == CSTR_EQUAL;
        list.push_back(std::move(d));
    }
    return list;
}

std::string DefaultPrinterName()
{
    DWORD size = 0;
    if (GetDefaultPrinterW(nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND)
            return {};
        throw LastOSError();
    }
    std::wstring name(size, L'\0');
    if (!GetDefaultPrinterW(name.data(), &size))
        throw LastOSError();
    name.resize(wcsnlen(name.c_str(), name.size()));
    return Utf8(name);
}
