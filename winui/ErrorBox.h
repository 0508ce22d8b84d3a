#pragma once

// The window's standard error report on Win32, and the wrappers that keep
// every exception inside the handler that raised it: a failed handler is
// reported in a modal box and the window carries on.

#include "common/ErrorText.h"

#include <functional>
#include <string>
#include <utility>

namespace winui {

// Shows the report: by default a modal box with the stop icon, owned by the
// window set with SetErrorReportOwner. Tests replace it to count reports
// without blocking.
using ErrorReportHook = std::function<void(const std::string& title, const std::string& text)>;
void SetErrorReportHook(ErrorReportHook hook); // empty: back to the box
void SetErrorReportOwner(void* window);        // an HWND; null for none
void* ErrorReportOwner();
void ShowErrorReport(const std::string& message);
// True while a report is shown (its modal loop runs further timer ticks).
bool ErrorReportShowing();

template <class F>
void RunGuarded(F&& f) noexcept
{
    RunReportingFailure(std::forward<F>(f), [](const std::string& message) { ShowErrorReport(message); });
}

} // namespace winui
