#pragma once

// "Report once" for work that can fail the same way again and again (the
// window's status tick fires five times a second), for either window.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>

// A failure is reported once, never while another report is open, and again
// only after a success or when the message changes. A failure that may pass
// by itself (a server slow to answer, or not reached) is reported only once
// failing has lasted the patience: one late tick is no reason for a box.
class TRepeatedFailureReporter {
public:
    using Clock = std::chrono::steady_clock;
    // report shows the standard error report; showing tells whether one is
    // open (its modal loop runs further ticks).
    using Report = std::function<void(const std::string& message)>;
    using Showing = std::function<bool()>;

    TRepeatedFailureReporter(Report report, Showing showing,
                             std::chrono::milliseconds patience = std::chrono::milliseconds(1000));

    // Runs f; what it throws counts as a definite failure.
    template <class F>
    void Run(F&& f) noexcept
    {
        try {
            std::forward<F>(f)();
            Succeeded();
        } catch (...) {
            FailedNow();
        }
    }

    void Succeeded() noexcept
    {
        FReported.reset();
        FFailingSince.reset();
    }
    // definite: the server's own answer, not a server that was not reached or
    // did not answer in time. began: when the failing call started.
    void Failed(const std::string& message, bool definite, Clock::time_point began);

    // The failure that has been reported and not yet recovered from.
    const std::optional<std::string>& Reported() const noexcept { return FReported; }

private:
    void FailedNow() noexcept;

    Report FReport;
    Showing FShowing;
    std::chrono::milliseconds FPatience;
    std::optional<Clock::time_point> FFailingSince;
    std::optional<std::string> FReported;
};
