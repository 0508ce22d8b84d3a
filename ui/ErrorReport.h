#pragma once

// The application's standard error report and the wrappers that keep every
// exception away from Qt: a handler that fails is reported in a modal box and
// the window carries on.

#include "ui/ErrorText.h"

#include <QPointer>
#include <QString>
#include <QWidget>

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

// The window a report's box stands over: the latest one named by an owner
// still alive, else the active window. A dialog names itself while it is
// shown, so that its own failures, and the window's meanwhile, are not
// hidden behind it.
QWidget* ErrorReportParent();
class TErrorReportOwner {
public:
    explicit TErrorReportOwner(QWidget* owner);
    ~TErrorReportOwner();
    TErrorReportOwner(const TErrorReportOwner&) = delete;
    TErrorReportOwner& operator=(const TErrorReportOwner&) = delete;

private:
    QPointer<QWidget> FPrevious;
};

// Runs f; any exception it lets out is reported and swallowed.
template <class F>
void RunGuarded(F&& f) noexcept
{
    RunReportingFailure(std::forward<F>(f),
                        [](const std::string& message) { ShowErrorReport(QString::fromStdString(message)); });
}
