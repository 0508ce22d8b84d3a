#pragma once

// Helpers shared by the window tests: counting error reports without a box,
// driving modal dialogs, and measuring where a job put its ink.

#include "ui/ErrorReport.h"

#include <QApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
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

// The job's first page at 72 dpi (one pixel per point), lines drawn solid.
inline QImage RasterisePdf(const QString& pdf)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("page"));
    QProcess::execute(QStringLiteral("pdftoppm"),
                      {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-gray"), QStringLiteral("-png"),
                       QStringLiteral("-aa"), QStringLiteral("no"), QStringLiteral("-aaVector"), QStringLiteral("no"),
                       QStringLiteral("-thinlinemode"), QStringLiteral("solid"), QStringLiteral("-singlefile"), pdf,
                       base});
    return QImage(base + QStringLiteral(".png"));
}

// Bounding box of every non-white pixel.
inline QRect InkBox(const QImage& page)
{
    QRect box;
    const QImage gray = page.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < gray.height(); ++y) {
        const uchar* row = gray.constScanLine(y);
        for (int x = 0; x < gray.width(); ++x)
            if (row[x] < 200)
                box |= QRect(x, y, 1, 1);
    }
    return box;
}
