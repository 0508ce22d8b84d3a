#pragma once

// The application's standard error report and the wrappers that keep every
// exception away from Qt: a handler that fails is reported in a modal box and
// the window carries on.

#include <QString>

#include <exception>
#include <functional>
#include <optional>
#include <utility>

// The title of the taskbar entry and of every error box.
inline constexpr auto ApplicationTitle = "Vellico Output Test";

// The box text: the message, with a full stop appended when its last
// character sorts above '.' (letters, digits, most punctuation).
QString ErrorReportText(const QString& message);

// The text of the exception being handled; call only inside a catch block.
QString CurrentExceptionMessage();

// Shows the report for an already formatted text. By default a modal critical
// box with an OK button; tests replace it to count reports without blocking.
using ErrorReportHook = std::function<void(const QString& title, const QString& text)>;
void SetErrorReportHook(ErrorReportHook hook);   // empty: back to the box
void ShowErrorReport(const QString& message);    // formats, then shows

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
            ShowErrorReport(CurrentExceptionMessage());
        } catch (...) {
            // Nothing sensible is left to do if the report itself fails.
        }
    }
}

// For a handler that can fail the same way again and again (the status timer
// fires five times a second): a failure is reported once, never while another
// report is open, and again only after a success or when the message changes.
class TRepeatedFailureReporter {
public:
    template <class F>
    void Run(F&& f) noexcept
    {
        try {
            std::forward<F>(f)();
            FReported.reset();
        } catch (...) {
            try {
                Failed(CurrentExceptionMessage());
            } catch (...) {
            }
        }
    }

    // The failure that has been reported and not yet recovered from.
    const std::optional<QString>& Reported() const noexcept { return FReported; }

private:
    void Failed(const QString& message);
    std::optional<QString> FReported;
};
