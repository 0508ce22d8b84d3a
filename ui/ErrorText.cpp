#include "ui/ErrorText.h"

#include "common/Exceptions.h"

#include <new>

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
        return QString::fromStdString(e.Message());
    } catch (const std::bad_alloc&) {
        // "std::bad_alloc" tells a user nothing.
        return QStringLiteral("Out of memory: there is not enough memory to do this");
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}
