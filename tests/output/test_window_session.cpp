// The main window's behaviour with a recording view and no toolkit. The
// workers' answers wait in a queue the test runs, as the window's thread
// would. Jobs are real, written to files; only what a print server alone can
// say (the device's name, the queue's state, what became of a job it took)
// is the test's own.

#include "output/WindowSession.h"

#include "common/Exceptions.h"
#include "platform/JobProgress.h"
#include "plot/SampleText.h"

#include <doctest/doctest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
// Waits are for a state, never for a time; the limit only ends a hang.
constexpr auto HangLimit = std::chrono::minutes(1);

// The window's thread, played by the test.
class TAnswerQueue {
public:
    TWindowCalls::Post Post()
    {
        return [this](std::function<void()> answer) {
            const std::lock_guard lock(FMutex);
            FWaiting.push_back(std::move(answer));
            FCame.notify_all();
        };
    }
    // Runs answers as they come until done holds.
    bool RunUntil(const std::function<bool()>& done)
    {
        const auto limit = Clock::now() + HangLimit;
        while (!done()) {
            std::function<void()> next;
            {
                std::unique_lock lock(FMutex);
                if (!FCame.wait_until(lock, limit, [this] { return !FWaiting.empty(); }))
                    return false;
                next = std::move(FWaiting.front());
                FWaiting.pop_front();
            }
            next();
        }
        return true;
    }
    size_t Waiting()
    {
        const std::lock_guard lock(FMutex);
        return FWaiting.size();
    }

private:
    std::mutex FMutex;
    std::condition_variable FCame;
    std::deque<std::function<void()>> FWaiting;
};

bool WaitFor(const std::function<bool()>& state)
{
    for (const auto limit = Clock::now() + HangLimit; !state(); std::this_thread::yield())
        if (Clock::now() > limit)
            return false;
    return true;
}

// Holds a worker's call until opened.
class TGate {
public:
    void Close()
    {
        const std::lock_guard lock(FMutex);
        FOpen = false;
    }
    void Open()
    {
        const std::lock_guard lock(FMutex);
        FOpen = true;
        FChanged.notify_all();
    }
    void Pass()
    {
        std::unique_lock lock(FMutex);
        ++FHeld;
        FChanged.notify_all();
        FChanged.wait(lock, [this] { return FOpen; });
        --FHeld;
        ++FPassed;
    }
    int Passed()
    {
        const std::lock_guard lock(FMutex);
        return FPassed;
    }
    bool WaitHeld()
    {
        std::unique_lock lock(FMutex);
        return FChanged.wait_for(lock, HangLimit, [this] { return FHeld > 0; });
    }

private:
    std::mutex FMutex;
    std::condition_variable FChanged;
    bool FOpen = true;
    int FHeld = 0;
    int FPassed = 0;
};

DeviceSettings CutterSheet(double widthMm, double heightMm)
{
    DeviceSettings settings;
    settings.PaperName = "Custom";
    settings.PaperWidthMm = widthMm;
    settings.PaperHeightMm = heightMm;
    settings.Language = SendAs::HPGL;
    return settings;
}

TJobOutcome Outcome(TJobOutcome::Kind state, std::string reason = {}, std::string message = {})
{
    return TJobOutcome{state, std::move(reason), std::move(message)};
}

// The print server's side, and where the jobs go: a new file in a folder of
// the test's own for each.
struct TFakeSpooler {
    std::mutex Mutex;
    std::string Name = "Cutter";
    std::string Status = "No jobs in queue";
    std::string StatusFailure; // thrown as the server's own answer when set
    std::string NameFailure;
    std::deque<TJobOutcome> Outcomes; // one a follow; none left: on its way
    std::vector<HandedJob> Followed;
    int NextJobId = 0; // 0: the jobs are not handed to a queue
    DeviceSettings Settings = CutterSheet(210, 297);
    std::string OutputFile; // a fixed destination; empty: a new file a job
    std::vector<int> Positions;
    std::atomic<int> StatusCalls{0}, NameCalls{0};
    // Where the job's sender stops, halfway, while SendGate is closed.
    bool HoldHalfway = false;
    TGate NameGate, StatusGate, PrintGate, SendGate;
    fs::path Folder;

    TFakeSpooler()
    {
        static int made = 0;
        Folder = fs::temp_directory_path()
                 / ("vellico-window-session-" + std::to_string(::time(nullptr)) + "-" + std::to_string(++made));
        fs::remove_all(Folder);
        fs::create_directories(Folder);
    }
    ~TFakeSpooler() { fs::remove_all(Folder); }

    // Read before the gate: an answer that comes late speaks of the time it
    // was asked.
    std::string Answer(const std::string& value, const std::string& failure, TGate& gate)
    {
        std::unique_lock lock(Mutex);
        const std::string answer = value, fails = failure;
        lock.unlock();
        gate.Pass();
        if (!fails.empty())
            throw EPrinter(fails);
        return answer;
    }

    TWindowSpooler Seam()
    {
        TWindowSpooler seam;
        seam.DeviceName = [this] {
            ++NameCalls;
            return Answer(Name, NameFailure, NameGate);
        };
        seam.QueueStatus = [this] {
            ++StatusCalls;
            return Answer(Status, StatusFailure, StatusGate);
        };
        seam.Follow = [this](const HandedJob& job) {
            const std::lock_guard lock(Mutex);
            Followed.push_back(job);
            if (Outcomes.empty())
                return Outcome(TJobOutcome::OnItsWay);
            const TJobOutcome next = Outcomes.front();
            Outcomes.pop_front();
            return next;
        };
        seam.Request = [this](int position) {
            const std::lock_guard lock(Mutex);
            PrintRequest request;
            request.Position = position;
            request.Target.Settings = Settings;
            request.Target.OutputFile = !OutputFile.empty()
                                            ? OutputFile
                                            : (Folder / ("job-" + std::to_string(Positions.size()) + ".plt")).string();
            Positions.push_back(position);
            return request;
        };
        seam.Print = [this](const TPLT& plot, const PrintRequest& request) {
            PrintGate.Pass();
            if (HoldHalfway) {
                // A sender's progress, as a slow cutter or queue shows it.
                BeginJobProgress(10240);
                AddJobProgress(5120);
                SendGate.Pass();
                EndJobProgress();
            }
            PrintResult result = PrintPlot(plot, request);
            const std::lock_guard lock(Mutex);
            if (NextJobId > 0)
                result.Job = {"Cutter", NextJobId++};
            return result;
        };
        return seam;
    }

    std::vector<std::string> JobFiles() const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::directory_iterator(Folder))
            if (entry.path().filename().string().starts_with("job-"))
                files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        return files;
    }
};

class TRecordingView : public TWindowView {
public:
    std::string DeviceName, Status;
    bool StopShown = false;
    int Preview = -99;
    std::vector<std::string> Reports;
    int Selected = TWindowSession::FirstPosition;
    std::string Typed = "Top left";
    // Runs inside the next report, as its modal loop runs the window's ticks.
    std::function<void()> DuringReport;

    void ShowDeviceName(const std::string& name) override { DeviceName = name; }
    void ShowStatus(const std::string& text) override { Status = text; }
    void ShowStop(bool visible) override { StopShown = visible; }
    void ShowPreview(int index) override { Preview = index; }
    void ShowErrorReport(const std::string& message) override
    {
        Reports.push_back(message);
        ++FShowing;
        if (auto during = std::exchange(DuringReport, nullptr))
            during();
        --FShowing;
    }
    bool ErrorReportShowing() const override { return FShowing > 0; }
    int SelectedPosition() const override { return Selected; }
    std::string PositionText() const override { return Typed; }

private:
    int FShowing = 0;
};

// The window as the shells make it. Members in this order: the session goes
// first, while everything its workers touch is still there.
struct TWindow {
    TAnswerQueue Answers;
    TFakeSpooler Spooler;
    TRecordingView View;
    TWindowSession Session{View, Answers.Post(), Spooler.Seam()};

    TWindow()
    {
        Session.Started();
        REQUIRE(Settle());
    }
    ~TWindow()
    {
        for (TGate* gate : {&Spooler.NameGate, &Spooler.StatusGate, &Spooler.PrintGate, &Spooler.SendGate})
            gate->Open();
    }
    // Runs answers until none is to come.
    bool Settle()
    {
        return Answers.RunUntil([this] { return !Session.Waiting(); });
    }
    bool TickAndSettle()
    {
        Session.Tick();
        return Settle();
    }
};

std::string FileText(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

fs::path WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

const std::string InProgress = "Printing in progress";

} // namespace

TEST_CASE("the window opens on the first position and asks the device's name until it has one")
{
    TWindow w;
    CHECK(w.View.Preview == TWindowSession::FirstPosition);
    CHECK(w.View.DeviceName == "Cutter");
    CHECK(w.Session.Store() != nullptr);
    // Known: the ticks ask only the queue.
    REQUIRE(w.TickAndSettle());
    REQUIRE(w.TickAndSettle());
    CHECK(w.Spooler.NameCalls == 1);
    CHECK(w.View.Status == "No jobs in queue");

    // A device whose record cannot be opened has no name yet: asked again on
    // every tick, so a printer set up later appears.
    TWindow unnamed;
    unnamed.Spooler.Name.clear();
    unnamed.Session.DeviceChosen({"Cutter", {}, {}}, unnamed.Spooler.Settings);
    REQUIRE(unnamed.Settle());
    REQUIRE(unnamed.TickAndSettle());
    CHECK(unnamed.Spooler.NameCalls == 3);
    unnamed.Spooler.Name = "Cutter";
    REQUIRE(unnamed.TickAndSettle());
    REQUIRE(unnamed.TickAndSettle());
    CHECK(unnamed.View.DeviceName == "Cutter");
    CHECK(unnamed.Spooler.NameCalls == 4);
    CHECK(unnamed.View.Reports.empty());
}

TEST_CASE("the tick never waits: while the queue's answer is outstanding, further ticks ask nothing")
{
    TWindow w;
    w.Spooler.StatusGate.Close();
    w.Session.Tick();
    REQUIRE(w.Spooler.StatusGate.WaitHeld());
    w.Session.Tick();
    w.Session.Tick();
    w.Spooler.StatusGate.Open();
    REQUIRE(w.Settle());
    CHECK(w.Spooler.StatusCalls == 1);
    CHECK(w.View.Status == "No jobs in queue");
    REQUIRE(w.TickAndSettle());
    CHECK(w.Spooler.StatusCalls == 2);
}

TEST_CASE("the position a job uses: the typed text must name the selected item; the preview follows the list")
{
    TWindow w;
    struct Row {
        int Selected;
        const char* Typed;
        int Position; // -1: the plot as its coordinates stand
    };
    for (const Row& row :
         {Row{2, "Top left", 2}, Row{8, "Centered", 8}, Row{0, "Bottom left", 0}, Row{2, "Somewhere", -1},
          Row{2, "top left", -1}, Row{2, "", -1}, Row{-1, "Top left", -1}, Row{9, "Top left", -1}}) {
        CAPTURE(row.Selected);
        CAPTURE(std::string(row.Typed));
        w.View.Selected = row.Selected;
        w.View.Typed = row.Typed;
        CHECK(w.Session.PositionIndex() == row.Position);
        w.Session.Cut(BuiltInSampleLines());
        REQUIRE(w.Settle());
        REQUIRE(!w.Spooler.Positions.empty());
        CHECK(w.Spooler.Positions.back() == row.Position);
    }
    CHECK(w.View.Reports.empty());

    // Named, not bound: CAPTURE's lambda cannot take a structured binding on
    // every compiler.
    for (const auto& row : {std::pair{8, 8}, {0, 0}, {-1, -1}, {9, -1}, {2, 2}}) {
        const int chosen = row.first, shown = row.second;
        CAPTURE(chosen);
        w.Session.PositionChosen(chosen);
        CHECK(w.View.Preview == shown);
    }
}

TEST_CASE("each way to cut gives one job, and nothing else")
{
    TWindow w;
    const fs::path square =
        WriteFile(w.Spooler.Folder / "square.plt", "IN;\nPU0 0;\nPD1000 0;\nPD1000 1000;\nPD0 0;\nSP0;\n");
    struct Row {
        const char* Name;
        std::function<void(TWindowSession&)> Press;
        int Polygons; // in the store afterwards; -1: not read into it
    };
    const Row rows[] = {
        {"Cut", [](TWindowSession& s) { s.Cut(BuiltInSampleLines()); }, 51},
        {"Cut again", [](TWindowSession& s) { s.Cut(BuiltInSampleLines()); }, 51},
        {"Open", [&](TWindowSession& s) { s.OpenPlot(square.string(), " "); }, 1},
        {"a calibration cut", [](TWindowSession& s) { s.CutPattern(CalibrationCut{}); }, -1},
    };
    size_t jobs = 0;
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        row.Press(w.Session);
        CHECK(w.Session.JobRunning());
        REQUIRE(w.Settle());
        const std::vector<std::string> files = w.Spooler.JobFiles();
        REQUIRE(files.size() == ++jobs);
        CHECK(FileText(files.back()).starts_with("IN;"));
        if (row.Polygons >= 0)
            CHECK(w.Session.Store()->NPolygons() == row.Polygons);
        CHECK(w.View.Reports.empty());
    }
    // The same sample twice: the same job twice.
    const std::vector<std::string> files = w.Spooler.JobFiles();
    CHECK(FileText(files[0]) == FileText(files[1]));
}

TEST_CASE("while a job runs, another is refused before anything is touched")
{
    TWindow w;
    const fs::path square = WriteFile(w.Spooler.Folder / "square.plt", "IN;\nPU0 0;\nPD1000 0;\n");
    w.Spooler.PrintGate.Close();
    w.Session.Cut(BuiltInSampleLines());
    REQUIRE(w.Spooler.PrintGate.WaitHeld());
    struct Row {
        const char* Name;
        std::function<void(TWindowSession&)> Press;
        std::string Refusal;
    };
    const Row rows[] = {
        {"Cut",
         [](TWindowSession& s) {
             s.Cut({"PU0 0;", "PD1000 0;"});
         },
         InProgress},
        {"Open", [&](TWindowSession& s) { s.OpenPlot(square.string(), ""); }, InProgress},
        {"Open with pens that are no list", [&](TWindowSession& s) { s.OpenPlot(square.string(), " 1;2 "); },
         "\"1;2\" is not a list of pens; use pen numbers such as 2 or 1,3, or leave it empty for every pen"},
        {"a calibration cut", [](TWindowSession& s) { s.CutPattern(CalibrationCut{}); }, InProgress},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        CHECK_THROWS_WITH_AS(row.Press(w.Session), row.Refusal.c_str(), Exception);
        CHECK(w.Session.Store()->NPolygons() == 51);
    }
    CHECK(w.Session.PensText() == "1;2");
    w.Spooler.PrintGate.Open();
    REQUIRE(w.Settle());
    CHECK(w.Spooler.JobFiles().size() == 1);
    CHECK(w.Spooler.Positions.size() == 1);
    // Once it is handed over, the next one goes.
    w.Session.Cut(BuiltInSampleLines());
    REQUIRE(w.Settle());
    CHECK(w.Spooler.JobFiles().size() == 2);
    CHECK(w.View.Reports.empty());
}

TEST_CASE("a plot cut in part is told once, with the file's own notices in the same report")
{
    const std::string offTheSheet = "Part of the plot lies off the sheet and was not cut: ";
    struct Row {
        const char* Name;
        double SheetWidthMm;
        const char* File; // empty: Cut the sample; null: none
        const char* Pens;
        std::vector<std::string> Told; // what each report says
        size_t Jobs;
    };
    const Row rows[] = {
        {"the sample on a sheet narrower than it", 80, "", "", {offTheSheet}, 1},
        {"the sample where it fits", 210, "", "", {}, 1},
        // Pen 2's line runs a metre to the right, with a label.
        {"a file's pen partly off the sheet",
         210,
         "IN;SP1;PU0,0;PD400,0;SP2;PU0,400;PD40000,400;LBend\x03;SP0;",
         "2",
         {"Not cut, as a knife cuts only lines: 1 label.\n" + offTheSheet},
         1},
        {"a file of labels alone",
         210,
         "IN;SP1;LBend\x03;",
         "",
         {"has nothing to cut: its only drawing is 1 label"},
         0},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        TWindow w;
        w.Spooler.Settings = CutterSheet(row.SheetWidthMm, 297);
        const fs::path file = w.Spooler.Folder / "plot.plt";
        if (!row.File)
            w.Session.OpenPlot(file.string(), row.Pens);
        else if (*row.File)
            w.Session.OpenPlot(WriteFile(file, row.File).string(), row.Pens);
        else
            w.Session.Cut(BuiltInSampleLines());
        REQUIRE(w.Settle());
        REQUIRE(w.View.Reports.size() == row.Told.size());
        for (size_t i = 0; i < row.Told.size(); ++i)
            CHECK_MESSAGE(w.View.Reports[i].find(row.Told[i]) != std::string::npos, w.View.Reports[i]);
        CHECK(w.Spooler.JobFiles().size() == row.Jobs);
    }
}

#ifndef _WIN32
// A cutter that takes nothing more: the job waits on a pipe nobody reads.
TEST_CASE("Stop ends the job being sent; the status tells how far it got, and nothing is reported")
{
    TWindow w;
    REQUIRE(w.TickAndSettle());
    const fs::path pipe = w.Spooler.Folder / "cutter";
    REQUIRE(::mkfifo(pipe.c_str(), 0600) == 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    REQUIRE(reader >= 0);
    w.Spooler.OutputFile = pipe.string();
    std::string plot;
    for (int i = 0; i < 50000; ++i)
        plot += (i % 2 ? "PD" : "PU") + std::to_string(i % 8000) + ' ' + std::to_string(i % 97) + ";\n";
    w.Session.OpenPlot(WriteFile(w.Spooler.Folder / "large.plt", plot).string(), "");
    REQUIRE(WaitFor([] { return CurrentJobProgress().Sending; }));
    // More than one chunk: the stop is taken between them.
    CHECK(CurrentJobProgress().Total > 256 * 1024);
    w.Session.Tick();
    CHECK(w.View.StopShown);
    CHECK_MESSAGE(w.View.Status.starts_with("Print: "), w.View.Status);

    w.Session.Stop();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(reader, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n < 0) {
            REQUIRE(errno == EAGAIN);
            pollfd wait{reader, POLLIN, 0};
            REQUIRE(::poll(&wait, 1, 60000) > 0);
        }
    }
    ::close(reader);
    REQUIRE(w.Settle());
    CHECK(w.View.Reports.empty());
    CHECK_MESSAGE(w.View.Status.starts_with("No jobs in queue (job stopped after "), w.View.Status);
    CHECK_MESSAGE(w.View.Status.ends_with(" KiB)"), w.View.Status);
    CHECK_FALSE(w.View.StopShown);
    // The next job clears the note.
    w.Spooler.OutputFile.clear();
    w.Session.Cut(BuiltInSampleLines());
    REQUIRE(w.Settle());
    CHECK(w.View.Status == "No jobs in queue");
}
#endif

TEST_CASE("the job's progress goes once the job has gone, whatever the queue says, and with its device")
{
    const std::string noQueue = "A call to an OS function failed.";
    struct Row {
        const char* Name;
        const char* StatusFailure; // the queue's state cannot be had
        bool OtherDevice;          // chosen once the job has gone
        std::string Shown;
    };
    const Row rows[] = {
        {"the queue answers", "", false, "No jobs in queue"},
        // Wine's spooler never tells a queue's state.
        {"the queue cannot be asked", "A call to an OS function failed.", false, ""},
        {"another device is chosen", "", true, ""},
        {"another device is chosen, the queue never asked", "A call to an OS function failed.", true, ""},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        TWindow w;
        w.Spooler.StatusFailure = row.StatusFailure;
        w.Spooler.Status = "Print";
        REQUIRE(w.TickAndSettle());
        w.Spooler.HoldHalfway = true;
        w.Spooler.SendGate.Close();
        w.Session.Cut(BuiltInSampleLines());
        REQUIRE(w.Spooler.SendGate.WaitHeld());
        w.Session.Tick();
        CHECK(w.View.Status == "Print: 50 %: 5.0 of 10.0 KiB");
        CHECK(w.View.StopShown);
        w.Spooler.Status = "No jobs in queue";
        w.Spooler.SendGate.Open();
        REQUIRE(w.Settle());
        if (row.OtherDevice) {
            w.Session.DeviceChosen({"Other", {}, {}}, w.Spooler.Settings);
            REQUIRE(w.Settle());
        } else {
            REQUIRE(w.TickAndSettle());
        }
        CHECK(w.View.Status == row.Shown);
        CHECK_FALSE(w.View.StopShown);
        CHECK(w.View.Reports.size() == (*row.StatusFailure ? 1U : 0U));
    }
}

TEST_CASE("a job handed to a queue is followed: its trouble is reported once, its reason shown beside the state")
{
    using K = TJobOutcome::Kind;
    const std::string missing = "Unable to open serial port: No such file or directory";
    struct Step {
        const char* Status;
        TJobOutcome Outcome;
        std::string Shown;
    };
    struct Row {
        const char* Name;
        bool Handed; // to a queue, not a file
        std::vector<Step> Steps;
        std::vector<std::string> Reports;
    };
    const Row rows[] = {
        {"the queue aborts it",
         true,
         {{"No jobs in queue", Outcome(K::Failed, missing, "Job 1 was aborted: " + missing), "No jobs in queue"}},
         {"Job 1 was aborted: " + missing}},
        {"its device fails and stops the queue, then it is canceled",
         true,
         {{"Print", Outcome(K::Stuck, missing, "Job 1 waits inside: " + missing), "Print (" + missing + ")"},
          {"Print", Outcome(K::Stuck, missing, "Job 1 waits inside: " + missing), "Print (" + missing + ")"},
          {"No jobs in queue", Outcome(K::Failed, {}, "Job 1 was canceled"), "No jobs in queue"}},
         {"Job 1 waits inside: " + missing}},
        {"it waits on a paused queue, then is cut",
         true,
         {{"Print", Outcome(K::OnItsWay, "Paused"), "Print (Paused)"},
          {"No jobs in queue", Outcome(K::Completed), "No jobs in queue"}},
         {}},
        {"a job to a file is not followed", false, {}, {}},
    };
    for (const Row& row : rows) {
        CAPTURE(std::string(row.Name));
        TWindow w;
        w.Spooler.NextJobId = row.Handed ? 1 : 0;
        for (const Step& step : row.Steps)
            w.Spooler.Outcomes.push_back(step.Outcome);
        w.Session.Cut(BuiltInSampleLines());
        REQUIRE(w.Settle());
        for (const Step& step : row.Steps) {
            w.Spooler.Status = step.Status;
            REQUIRE(w.TickAndSettle());
            CHECK(w.View.Status == step.Shown);
        }
        // The end of the job ends the following.
        for (int tick = 0; tick < 3; ++tick)
            REQUIRE(w.TickAndSettle());
        CHECK(w.Spooler.Followed.size() == row.Steps.size());
        for (const HandedJob& job : w.Spooler.Followed)
            CHECK((job.Device == "Cutter" && job.Id == 1));
        CHECK(w.View.Reports == row.Reports);
    }
}

TEST_CASE("a status failure that repeats is reported once, and again only after a success or another failure")
{
    // Each character a tick: '.' answers, a letter fails with that message.
    const std::pair<const char*, const char*> rows[] = {
        {"....", ""}, {"AAAAAA", "A"}, {"AA.AA", "AA"}, {"AABBA", "ABA"}, {"..A.A", "AA"},
    };
    for (const auto& row : rows) {
        const char* const ticks = row.first;
        const char* const reported = row.second;
        CAPTURE(std::string(ticks));
        TWindow w;
        for (const char* tick = ticks; *tick; ++tick) {
            w.Spooler.StatusFailure = *tick == '.' ? std::string() : std::string(1, *tick);
            REQUIRE(w.TickAndSettle());
        }
        std::string got;
        for (const std::string& report : w.View.Reports)
            got += report;
        CHECK(got == reported);
        // The last answer stays shown through the failures.
        CHECK(w.View.Status == (std::string(ticks).find('.') != std::string::npos ? "No jobs in queue" : ""));
    }

    // No device at all: the name and the status fail alike, reported once.
    TAnswerQueue answers;
    TFakeSpooler spooler;
    spooler.NameFailure = spooler.StatusFailure = "There is no default printer currently selected";
    TRecordingView view;
    TWindowSession session(view, answers.Post(), spooler.Seam());
    session.Started();
    REQUIRE(answers.RunUntil([&] { return !session.Waiting(); }));
    for (int tick = 0; tick < 4; ++tick) {
        session.Tick();
        REQUIRE(answers.RunUntil([&] { return !session.Waiting(); }));
    }
    CHECK(spooler.NameCalls == 5);
    CHECK(view.Reports == std::vector<std::string>{spooler.NameFailure});
}

TEST_CASE("a report's own loop runs further ticks: what it reports is not reported again")
{
    SUBCASE("a failed job")
    {
        TWindow w;
        w.Spooler.NextJobId = 1;
        w.Spooler.Outcomes = {Outcome(TJobOutcome::Failed, {}, "Job 1 was canceled"),
                              Outcome(TJobOutcome::Failed, {}, "Job 1 was canceled")};
        w.Session.Cut(BuiltInSampleLines());
        REQUIRE(w.Settle());
        w.View.DuringReport = [&w] {
            for (int tick = 0; tick < 3; ++tick)
                REQUIRE(w.TickAndSettle());
        };
        REQUIRE(w.TickAndSettle());
        CHECK(w.View.Reports == std::vector<std::string>{"Job 1 was canceled"});
        CHECK(w.Spooler.Followed.size() == 1);
    }
    SUBCASE("a status failure, and another met while the first is open")
    {
        TWindow w;
        w.View.DuringReport = [&w] {
            w.Spooler.StatusFailure = "B";
            for (int tick = 0; tick < 3; ++tick)
                REQUIRE(w.TickAndSettle());
        };
        w.Spooler.StatusFailure = "A";
        REQUIRE(w.TickAndSettle());
        CHECK(w.View.Reports == std::vector<std::string>{"A"});
        // Reported once the first is closed.
        REQUIRE(w.TickAndSettle());
        REQUIRE(w.TickAndSettle());
        CHECK(w.View.Reports == std::vector<std::string>{"A", "B"});
    }
}

TEST_CASE("an answer about the previous device is dropped once another is chosen")
{
    struct Row {
        const char* Name;
        bool HoldName; // else the status is held
        const char* StatusFailure;
    };
    for (const Row& row : {Row{"the device's name", true, ""}, Row{"the queue's state", false, ""},
                           Row{"a failure of the queue", false, "The printer \"Old\" is gone"}}) {
        CAPTURE(std::string(row.Name));
        TWindow w;
        w.Spooler.Name = "Old";
        w.Spooler.Status = "Print";
        w.Spooler.StatusFailure = row.StatusFailure;
        TGate& gate = row.HoldName ? w.Spooler.NameGate : w.Spooler.StatusGate;
        gate.Close();
        if (row.HoldName)
            w.Session.DeviceChosen({"Old", {}, {}}, w.Spooler.Settings);
        else
            w.Session.Tick();
        REQUIRE(gate.WaitHeld());
        w.Spooler.Name = "New";
        w.Spooler.Status = "No jobs in queue";
        w.Spooler.StatusFailure.clear();
        w.Session.DeviceChosen({"New", {}, {}}, w.Spooler.Settings);
        gate.Open();
        REQUIRE(w.Settle());
        CHECK(w.View.DeviceName != "Old");
        CHECK(w.View.Status.empty());
        CHECK(w.View.Reports.empty());
        // The next tick asks about the new device.
        REQUIRE(w.TickAndSettle());
        CHECK(w.View.DeviceName == "New");
        CHECK(w.View.Status == "No jobs in queue");
    }

    // A job on the previous queue is still ours to follow, but that queue's
    // reason does not stand beside the new one's state.
    TWindow w;
    w.Spooler.NextJobId = 1;
    w.Session.Cut(BuiltInSampleLines());
    REQUIRE(w.Settle());
    w.Session.DeviceChosen({"New", {}, {}}, w.Spooler.Settings);
    w.Spooler.Status = "Print";
    w.Spooler.Outcomes = {Outcome(TJobOutcome::OnItsWay, "Paused")};
    REQUIRE(w.TickAndSettle());
    CHECK(w.View.Status == "Print");
    CHECK(w.Spooler.Followed.size() == 1);
}

TEST_CASE("a device chosen in Print Setup becomes the active one, its settings worked out off the window's thread")
{
    struct Row {
        const char* Name;
        const char* NotSaved;
        bool Fails;
        std::vector<std::string> Reports;
    };
    for (const Row& row : {Row{"kept", "", false, {}},
                           Row{"not kept",
                               "The settings could not be kept: disk full",
                               false,
                               {"The settings could not be kept: disk full"}},
                           Row{"refused", "", true, {"No such device"}}}) {
        CAPTURE(std::string(row.Name));
        TWindow w;
        w.Session.DeviceChosen({"Before", {}, {}}, CutterSheet(210, 297));
        REQUIRE(w.Settle());
        w.Spooler.Name = "Chosen";
        TGate applying;
        applying.Close();
        const std::string notSaved = row.NotSaved;
        const bool fails = row.Fails;
        w.Session.ChooseDevice({"Chosen", {}, {}}, [&applying, notSaved, fails](std::string& note) -> DeviceSettings {
            applying.Pass();
            if (fails)
                throw EPrinter("No such device");
            note = notSaved;
            return CutterSheet(600, 1000);
        });
        REQUIRE(applying.WaitHeld());
        CHECK_THROWS_WITH_AS(w.Session.ChooseDevice({"Other", {}, {}}, [](std::string&) { return DeviceSettings(); }),
                             "The printer setup is still being applied", EPrinter);
        applying.Open();
        REQUIRE(w.Settle());
        DeviceIdentity identity;
        DeviceSettings settings;
        REQUIRE(Printer().KnownPrinter(identity, settings));
        CHECK(identity.Device == (row.Fails ? "Before" : "Chosen"));
        CHECK(settings.PaperWidthMm == (row.Fails ? 210 : 600));
        CHECK(w.View.DeviceName == (row.Fails ? "Cutter" : "Chosen"));
        CHECK(w.View.Reports == row.Reports);
    }
}

TEST_CASE("closing: nothing more starts, answers still to come are dropped, and the workers are waited for")
{
    {
        TWindow w;
        w.Session.Tick();
        REQUIRE(WaitFor([&w] { return w.Answers.Waiting() > 0; }));
        w.Session.Close();
        REQUIRE(w.Answers.RunUntil([&w] { return w.Answers.Waiting() == 0; }));
        CHECK(w.View.Status.empty());
        // Cut does nothing more, and the ticks ask nothing.
        w.Session.Cut(BuiltInSampleLines());
        w.Session.Tick();
        CHECK_FALSE(w.Session.Waiting());
        CHECK(w.Session.Store() == nullptr);
        CHECK(w.Spooler.StatusCalls == 1);
        CHECK(w.Spooler.JobFiles().empty());
        CHECK(w.View.Reports.empty());
    }
    TAnswerQueue answers;
    TFakeSpooler spooler;
    TRecordingView view;
    auto session = std::make_unique<TWindowSession>(view, answers.Post(), spooler.Seam());
    spooler.StatusGate.Close();
    session->Tick();
    REQUIRE(spooler.StatusGate.WaitHeld());
    std::thread opener([&spooler] { spooler.StatusGate.Open(); });
    session.reset();
    CHECK(spooler.StatusGate.Passed() == 1);
    opener.join();
}
