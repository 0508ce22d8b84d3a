#pragma once

// The window's standard error report on Win32, and the wrappers that keep
// every exception inside the handler that raised it: a failed handler is
// reported in a modal box and the window carries on.

#include "common/ErrorText.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace winui {

// Shows the report: by default a modal box with the stop icon, owned by the
// window set with SetErrorReportOwner. Tests replace it to count reports
// without blocking.
using ErrorReportHook = std::function<void(const std::string& title, const std::string& text)>;
void SetErrorReportHook(ErrorReportHook hook); // empty: back to the box
void SetErrorReportOwner(void* window);        // an HWND; null for none
void ShowErrorReport(const std::string& message);
// True while a report is shown (its modal loop runs further timer ticks).
bool ErrorReportShowing();

template <class F>
void RunGuarded(F&& f) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        try {
            ShowErrorReport(CurrentExceptionMessage());
        } catch (...) {
            // Nothing sensible is left to do if the report itself fails.
        }
    }
}

// For a failure that can repeat five times a second (the status timer): it
// is reported once, never while another report is open, and again only after
// a success or with another message. A failure that may pass by itself (a
// server slow to answer) is reported only once failing has lasted the
// patience.
class TRepeatedFailureReporter {
public:
    using Clock = std::chrono::steady_clock;
    explicit TRepeatedFailureReporter(std::chrono::milliseconds patience = std::chrono::milliseconds(1000))
        : FPatience(patience)
    {}
    void Succeeded() noexcept
    {
        FReported.reset();
        FFailingSince.reset();
    }
    void Failed(const std::string& message, bool definite, Clock::time_point began);

private:
    std::chrono::milliseconds FPatience;
    std::optional<Clock::time_point> FFailingSince;
    std::optional<std::string> FReported;
};

} // namespace winui
