// The Windows spooler backend against the private CUPS server, as Wine
// hands it the queues: the queries, and a RAW job's bytes on the raw queue.

#include "WinTestSupport.h"

#include "common/Exceptions.h"
#include "output/PagePlacement.h"
#include "output/PlotPrinting.h"
#include "platform/DeviceCapabilities.h"
#include "platform/windows/WinRawJob.h"
#include "platform/windows/WinSpooler.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"

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

// A cutter installed as Windows users install one: a printer on the
// "Generic / Text Only" driver, here on the raw queue's port. (Wine itself
// names every CUPS queue's driver after the queue, a raw one too, so a raw
// queue as Wine lists it cannot be told from a driver's.)
TEST_CASE("a printer on the Generic / Text Only driver starts in HPGL, and its cut reaches the cutter as HPGL")
{
    DRIVER_INFO_3W driver{};
    driver.cVersion = 3;
    driver.pName = const_cast<wchar_t*>(L"Generic / Text Only");
    driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
    driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
    driver.pDataFile = const_cast<wchar_t*>(L"RawCutter.ppd");
    driver.pDefaultDataType = const_cast<wchar_t*>(L"RAW");
    REQUIRE(AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver)));
    PRINTER_INFO_2W printer{};
    printer.pPrinterName = const_cast<wchar_t*>(L"Generic Cutter");
    printer.pPortName = const_cast<wchar_t*>(L"CUPS:RawCutter");
    printer.pDriverName = driver.pName;
    printer.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
    printer.pDatatype = const_cast<wchar_t*>(L"RAW");
    printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    const HANDLE added = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&printer));
    REQUIRE(added != nullptr);
    // Gone again whatever happens here: the later tests list the printers.
    struct Removed {
        HANDLE H;
        ~Removed()
        {
            DeletePrinter(H);
            ClosePrinter(H);
        }
    } removed{added};

    const auto found = FindDevice("Generic Cutter");
    REQUIRE(found);
    CHECK(found->first.Driver == "Generic / Text Only");
    const DeviceSettings& settings = found->second;
    CHECK(settings.Language == SendAs::HPGL);
    CHECK(settings.PaperWidthMm > 0);
    for (const double margin :
         {settings.MarginLeftMm, settings.MarginBottomMm, settings.MarginRightMm, settings.MarginTopMm})
        CHECK(margin == 0);
    // The raw queue's own record is a driver's as Wine lists it.
    CHECK(FindDevice("RawCutter")->second.Language == SendAs::Driver);

    TPLT sample;
    ReadPlotText(sample, BuiltInSampleLines());
    TTempFolder folder;
    PrintRequest request{{found->first, settings, folder / "sample.plt"}, TopLeft};
    PrintPlot(sample, request);
    const std::optional<std::string> written = ReadWholeFile(folder / "sample.plt");
    REQUIRE(written);
    CHECK(written->rfind("IN;", 0) == 0);

    const std::string jobs = HarnessFolder() + "\\jobs";
    const auto before = TTempFolder::NamesOf(jobs);
    request.Target.OutputFile.clear();
    PrintPlot(sample, request);
    bool arrived = false;
    for (int waited = 0; !arrived && waited < 20000; waited += 100) {
        for (const std::string& name : NewNames(jobs, before, 0))
            arrived = arrived || ReadWholeFile(jobs + "\\" + name) == written;
        Sleep(100);
    }
    CHECK(arrived);
}
