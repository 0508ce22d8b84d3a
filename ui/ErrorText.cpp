#include "ui/ErrorText.h"

QString ErrorReportText(const QString& message)
{
    return QString::fromStdString(ErrorReportText(message.toStdString()));
}
