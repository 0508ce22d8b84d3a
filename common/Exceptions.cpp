#include "common/Exceptions.h"

Exception::Exception(QString message) : FMessage(std::move(message)), FUtf8(FMessage.toUtf8())
{}

EOSError::EOSError(QString message, int code) : Exception(std::move(message)), FCode(code)
{}

EOSError EOSError::FromCode(int code, const QString& systemText)
{
    if (code == 0)
        return EOSError(QStringLiteral("A call to an OS function failed"), 0);
    return EOSError(QStringLiteral("System Error.  Code: %1.\r\n%2").arg(code).arg(TrimSystemText(systemText)), code);
}

QString Quoted(const QString& text)
{
    constexpr qsizetype Most = 64;
    if (text.size() <= Most)
        return text;
    return text.left(text.at(Most - 1).isHighSurrogate() ? Most - 1 : Most) + QChar(0x2026);
}

QString TrimSystemText(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0) {
        const QChar c = text.at(end - 1);
        if (c == u'.' || c.isSpace())
            --end;
        else
            break;
    }
    return text.left(end);
}
