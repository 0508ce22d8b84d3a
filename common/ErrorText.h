#pragma once

// The words of the standard error report, shared by the window's box and the
// command line's standard error. UTF-8.

#include <string>
#include <string_view>
#include <utility>

// The title of the taskbar entry and of every error box.
inline constexpr auto ApplicationTitle = "Vellico Output Test";

// The box text: the message, with a full stop appended when its last
// character sorts above '.' (letters, digits, most punctuation, any
// character beyond ASCII).
std::string ErrorReportText(std::string_view message);

// The text of the exception being handled; call only inside a catch block.
std::string CurrentExceptionMessage();

// Runs f; any exception it lets out is handed, as its text, to report (the
// window's standard error report) and swallowed: a failed handler leaves the
// window running.
template <class F, class Report>
void RunReportingFailure(F&& f, Report&& report) noexcept
{
    try {
        std::forward<F>(f)();
    } catch (...) {
        try {
            std::forward<Report>(report)(CurrentExceptionMessage());
        } catch (...) {
            // Nothing sensible is left to do if the report itself fails.
        }
    }
}
