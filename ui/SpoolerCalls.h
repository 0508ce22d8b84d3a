#pragma once

// Spooler work for the window, run on worker threads with the answer handed
// back on the window's thread: the print server may be slow, stalled or far
// away, and the window must keep answering input whatever it does.

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <chrono>
#include <functional>

class TSpoolerCalls : public QObject {
    Q_OBJECT
public:
    // Calls of one kind never overlap; calls of different kinds may.
    enum Kind { Status, Name, Job, KindCount };

    explicit TSpoolerCalls(QObject* parent = nullptr);
    // Waits for calls still running; each is bounded by the spooler's limits.
    ~TSpoolerCalls() override;

    bool Busy(Kind kind) const { return FBusy[kind]; }

    // Runs work on a worker thread unless a call of this kind is running
    // (then returns false and runs nothing). Exactly one of done or failed
    // runs afterwards on this object's thread, given the result or the
    // failure's message, whether the failure is definite (the server's own
    // answer, not a server that was not reached or did not answer in time)
    // and when the call began.
    using Clock = std::chrono::steady_clock;
    bool Start(Kind kind, std::function<QString()> work, std::function<void(const QString& result)> done,
               std::function<void(const QString& message, bool definite, Clock::time_point began)> failed);

    // Waits until no call runs (tests; the event loop is not run meanwhile).
    void WaitForIdle();

private:
    QThreadPool FPool;
    bool FBusy[KindCount] = {};
};
