#include "platform/windows/WinRawJob.h"

#include "common/Exceptions.h"
#include "platform/windows/Win32.h"
#include "platform/windows/WinSpooler.h"
#include "platform/windows/WinText.h"

#include <algorithm>

namespace {

// As the CUPS upload: small enough that a stop is taken soon.
constexpr std::int64_t Chunk = 64 * 1024;

HANDLE Native(const std::unique_ptr<SpoolerHandle>& queue)
{
    return static_cast<HANDLE>(QueueHandleOf(*queue));
}

} // namespace

TRawQueueJob::TRawQueueJob(const std::string& device, const std::string& title) : FDevice(device)
{
    FQueue = OpenQueue(device);
    if (!FQueue) {
        const SpoolerError e = LastSpoolerError();
        if (e.Code == ERROR_INVALID_PRINTER_NAME || e.Code == ERROR_INVALID_NAME)
            throw EPrinter("Printer selected is not valid");
        throw EOSError::FromCode(e.Code, e.Text);
    }
    std::wstring name = Wide(title);
    wchar_t raw[] = L"RAW";
    DOC_INFO_1W doc{name.data(), nullptr, raw};
    const DWORD job = StartDocPrinterW(Native(FQueue), 1, reinterpret_cast<BYTE*>(&doc));
    if (job == 0)
        throw LastOSError();
    FJob = static_cast<int>(job);
    if (!StartPagePrinter(Native(FQueue))) {
        const EOSError e = LastOSError();
        AbortPrinter(Native(FQueue));
        FDone = true;
        throw e;
    }
    FPageOpen = true;
    BeginJobProgress(-1);
}

TRawQueueJob::~TRawQueueJob()
{
    EndJobProgress();
    if (!FDone)
        AbortPrinter(Native(FQueue));
}

bool TRawQueueJob::Write(const char* data, std::int64_t size)
{
    for (std::int64_t done = 0; FFailure.empty() && done < size;) {
        if (FStop.Stopped()) {
            FStoppedByUser = true;
            FFailure = "the job was stopped";
            break;
        }
        const auto n = static_cast<DWORD>(std::min(Chunk, size - done));
        DWORD written = 0;
        if (!WritePrinter(Native(FQueue), const_cast<char*>(data + done), n, &written) || written == 0) {
            FFailureCode = static_cast<int>(GetLastError());
            FFailure = SystemErrorText(static_cast<DWORD>(FFailureCode));
            break;
        }
        done += written;
        FSent += written;
        AddJobProgress(written);
    }
    return FFailure.empty();
}

HandedJob TRawQueueJob::Finish()
{
    // A stop after the last chunk still keeps the job from the device.
    if (FFailure.empty() && FStop.Stopped()) {
        FStoppedByUser = true;
        FFailure = "the job was stopped";
    }
    if (FStoppedByUser)
        ThrowJobStopped(FSent, -1);
    if (!FFailure.empty())
        throw EOSError::FromCode(FFailureCode, FFailure);
    const HANDLE h = Native(FQueue);
    if (FPageOpen && !EndPagePrinter(h))
        throw LastOSError();
    FPageOpen = false;
    if (!EndDocPrinter(h))
        throw LastOSError();
    FDone = true;
    return {FDevice, FJob};
}
