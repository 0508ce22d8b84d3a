#include "ui/ErrorReport.h"

#include <QApplication>
#include <QMessageBox>

namespace {

ErrorReportHook& Hook()
{
    static ErrorReportHook hook;
    return hook;
}

int& ShowingDepth()
{
    static int depth = 0;
    return depth;
}

void ShowBox(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, title, QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    QMessageBox::Ok, QApplication::activeWindow());
    // Messages quote file names and system texts; never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void SetErrorReportHook(ErrorReportHook hook)
{
    Hook() = std::move(hook);
}

bool ErrorReportShowing()
{
    return ShowingDepth() > 0;
}

void ShowErrorReport(const QString& message)
{
    const QString text = ErrorReportText(message);
    const QString title = QString::fromLatin1(ApplicationTitle);
    struct Depth {
        Depth() { ++ShowingDepth(); }
        ~Depth() { --ShowingDepth(); }
    } depth;
    if (Hook())
        Hook()(title, text);
    else
        ShowBox(title, text);
}
