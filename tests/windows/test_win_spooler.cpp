// The Windows spooler backend against the private CUPS server, as Wine
// hands it the queues: the queries, and a RAW job's bytes on the raw queue.

#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "platform/windows/WinRawJob.h"
#include "platform/windows/WinSpooler.h"

#include <doctest/doctest.h>

namespace {

// A failing step's message, empty when it went through.
template <typename Step>
std::string Failure(Step step)
{
    try {
        step();
        return {};
    } catch (const Exception& e) {
        return e.Message();
    }
}

} // namespace

TEST_CASE("the spooler lists the server's printers and the user's default")
{
    CHECK(DefaultPrinterName() == "PdfCutter600");
    int defaults = 0;
    std::vector<std::string> names;
    for (const DestinationInfo& d : ListDestinations()) {
        names.push_back(d.Name);
        if (d.IsDefault) {
            ++defaults;
            CHECK(d.Name == "PdfCutter600");
        }
    }
    CHECK(defaults == 1);
    for (const char* queue : {"TestCutter", "PdfCutter600", "RawCutter"})
        CHECK(std::find(names.begin(), names.end(), queue) != names.end());
}

TEST_CASE("a queue's record and jobs, and the words for one that is not there")
{
    struct Row {
        const char* Name;
        int Code; // 0: opens
    };
    for (const Row& row : {Row{"RawCutter", 0}, Row{"rawcutter", 0}, Row{"NoSuchQueue", ERROR_INVALID_PRINTER_NAME},
                           Row{"", ERROR_INVALID_PRINTER_NAME}}) {
        CAPTURE(row.Name);
        SetLastSpoolerError({});
        auto queue = OpenQueue(row.Name);
        CHECK((queue != nullptr) == (row.Code == 0));
        if (!queue) {
            CHECK(LastSpoolerError().Code == row.Code);
            CHECK_FALSE(LastSpoolerError().Text.empty());
            continue;
        }
        const auto record = QueueRecord(*queue);
        REQUIRE(record);
        CHECK(record->PrinterName == std::optional<std::string>("RawCutter"));
        CHECK(record->StatusText == "Ready");
        CHECK_FALSE(record->Stopped);
        const auto jobs = QueueJobs(*queue, 0, 1000);
        if (UnderWine() && !jobs)
            WARN_MESSAGE(false, "Wine 8 fails EnumJobsW (code " << LastSpoolerError().Code << ")");
        else
            CHECK(jobs == std::optional<int>(0));
    }
}

TEST_CASE("a RAW job reaches the device byte for byte; a stopped or dropped one not at all")
{
    const std::string jobs = HarnessFolder() + "\\jobs";
    REQUIRE(GetFileAttributesW(Wide(jobs).c_str()) != INVALID_FILE_ATTRIBUTES);
    const auto before = TTempFolder::NamesOf(jobs);
    const std::string bytes = PatternBytes(200 * 1024 + 3);

    // Stopped between chunks: the job is deleted, not printed.
    {
        TRawQueueJob job("RawCutter", "stopped");
        CHECK(job.Write(bytes.data(), 1000));
        StopJobs();
        CHECK_FALSE(job.Write(bytes.data() + 1000, 1000));
        CHECK(job.LastError() == "the job was stopped");
        CHECK(Failure([&] { job.Finish(); }) == "The job was stopped: 1000 bytes sent");
    }
    // Dropped unfinished (a drawing that failed).
    {
        TRawQueueJob job("RawCutter", "dropped");
        CHECK(job.Write(bytes.data(), 5000));
    }
    // Whole, in pieces of odd sizes.
    TRawQueueJob job("RawCutter", "whole");
    for (size_t done = 0, piece = 1; done < bytes.size(); done += piece, piece = piece * 3 + 1)
        REQUIRE(job.Write(bytes.data() + done, static_cast<std::int64_t>(std::min(piece, bytes.size() - done))));
    const HandedJob handed = job.Finish();
    CHECK(handed.Device == "RawCutter");
    CHECK(handed.Id > 0);

    // The jobs are taken in order: once the whole one is there, the others
    // would have been too.
    std::vector<std::string> fresh;
    bool arrived = false;
    for (int waited = 0; !arrived && waited < 20000; waited += 100) {
        fresh = NewNames(jobs, before, 0);
        for (const std::string& name : fresh)
            arrived = arrived || (name.rfind("raw-", 0) == 0 && ReadWholeFile(jobs + "\\" + name) == bytes);
        Sleep(100);
    }
    CHECK(arrived);
    if (UnderWine() && fresh.size() == 3)
        WARN_MESSAGE(false, "Wine 8 prints a document that AbortPrinter deleted");
    else
        CHECK(fresh.size() == 1);
}
TEST_CASE("a job to a printer the spooler does not have is refused before anything is sent")
{
    CHECK(Failure([] { TRawQueueJob job("NoSuchQueue", "t"); }) == "Printer selected is not valid");
}
