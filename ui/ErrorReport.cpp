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

QPointer<QWidget>& Owner()
{
    static QPointer<QWidget> owner;
    return owner;
}

void ShowBox(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Critical, title, QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")),
                    QMessageBox::Ok, ErrorReportParent());
    // Messages quote file names and system texts; never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

QWidget* ErrorReportParent()
{
    return Owner() ? Owner().data() : QApplication::activeWindow();
}

TErrorReportOwner::TErrorReportOwner(QWidget* owner) : FPrevious(Owner())
{
    Owner() = owner;
}

TErrorReportOwner::~TErrorReportOwner()
{
    Owner() = FPrevious;
}

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
