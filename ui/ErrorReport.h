#pragma once

// The application's standard error report and the wrappers that keep every
// exception away from Qt: a handler that fails is reported in a modal box and
// the window carries on.

#include "ui/ErrorText.h"

#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

// Shows the report for an already formatted text. By default a modal critical
// box with an OK button; tests replace it to count reports without blocking.
using ErrorReportHook = std::function<void(const QString& title, const QString& text)>;
void SetErrorReportHook(ErrorReportHook hook); // empty: back to the box
void ShowErrorReport(const QString& message);  // formats, then shows

// True while a report is being shown (its modal loop may run timer ticks).
bool ErrorReportShowing();

// Runs f; any exception it lets out is reported and swallowed.
template <class F>
void RunGuarded(F&& f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        try {
            ShowErrorReport(QString::fromStdString(CurrentExceptionMessage()));
        } catch (...) {
            // Nothing sensible is left to do if the report itself fails.
        }
    }
}

// For work that can fail the same way again and again (the status timer
// fires five times a second): a failure is reported once, never while another
// report is open, and again only after a success or when the message changes.
// A failure that may pass by itself (a server slow to answer, or not reached)
// is reported only once failing has lasted the patience: one late tick is no
// reason for a box.
class TRepeatedFailureReporter {
public:
    using Clock = std::chrono::steady_clock;
    explicit TRepeatedFailureReporter(std::chrono::milliseconds patience = std::chrono::milliseconds(1000))
        : FPatience(patience)
    {}

    // Runs f; what it throws counts as a definite failure.
    template <class F>
    void Run(F&& f) noexcept
    {
        try {
            std::forward<F>(f)();
            Succeeded();
        } catch (...) {
            try {
                Failed(QString::fromStdString(CurrentExceptionMessage()), true, Clock::now());
            } catch (...) {
            }
        }
    }

    void Succeeded() noexcept
    {
        FReported.reset();
        FFailingSince.reset();
    }
    // began: when the failing call started.
    void Failed(const QString& message, bool definite, Clock::time_point began);

    // The failure that has been reported and not yet recovered from.
    const std::optional<QString>& Reported() const noexcept { return FReported; }

private:
    std::chrono::milliseconds FPatience;
    std::optional<Clock::time_point> FFailingSince;
    std::optional<QString> FReported;
};
