#pragma once

// The application's standard error report and the wrappers that keep every
// exception away from Qt: a handler that fails is reported in a modal box and
// the window carries on.

#include "ui/ErrorText.h"

#include <QString>

#include <exception>
#include <functional>
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
    RunReportingFailure(std::forward<F>(f),
                        [](const std::string& message) { ShowErrorReport(QString::fromStdString(message)); });
}
