#pragma once

// Helpers shared by the window tests: counting error reports without a box
// and driving modal dialogs.

#include "ui/ErrorReport.h"

#include <QApplication>
#include <QTimer>

#include <functional>

// Replaces the error box for the life of the object.
class ReportRecorder {
public:
    ReportRecorder()
    {
        SetErrorReportHook([this](const QString& title, const QString& text) {
            Titles << title;
            Texts << text;
        });
    }
    ~ReportRecorder() { SetErrorReportHook({}); }
    QStringList Titles;
    QStringList Texts;
};

// Runs `act` on the next modal dialog of type T once it is up (inside its
// own message loop), so a test can press its buttons.
template <class T>
void WhenModal(QObject* context, std::function<void(T&)> act)
{
    auto* poll = new QTimer(context);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, context, [poll, act] {
        if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(*dialog);
        }
    });
    poll->start();
}
