#include "ui/ErrorReport.h"

#include "common/Exceptions.h"

#include <QApplication>
#include <QMessageBox>

#include <new>

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

QString ErrorReportText(const QString& message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

QString CurrentExceptionMessage()
{
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::bad_alloc&) {
        // "std::bad_alloc" tells a user nothing.
        return QStringLiteral("Out of memory: there is not enough memory to do this");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
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

void TRepeatedFailureReporter::Failed(const QString& message, bool definite, Clock::time_point began)
{
    if (!FFailingSince)
        FFailingSince = began;
    if (ErrorReportShowing() || FReported == message)
        return;
    if (!definite && Clock::now() - *FFailingSince < FPatience)
        return;
    FReported = message;
    ShowErrorReport(message);
}
