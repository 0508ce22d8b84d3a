#pragma once

#include <QByteArray>
#include <QString>
#include <exception>

// Every failure the program reports is one of these; the message is what the
// user sees in the error box.
class Exception : public std::exception {
public:
    explicit Exception(QString message);
    const QString& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FUtf8.constData(); }

private:
    QString FMessage;
    QByteArray FUtf8;
};

// Text that is not a valid integer.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened, read or decoded.
class EFileError : public Exception {
public:
    using Exception::Exception;
};

class EFOpenError : public EFileError {
public:
    using EFileError::EFileError;
};

// Memory ran out; raised in place of std::bad_alloc where the program can
// still say what it was doing.
class EOutOfMemory : public Exception {
public:
    using Exception::Exception;
};

// An operating-system or spooler call that failed; Code is 0 when the system
// reported no code.
class EOSError : public Exception {
public:
    EOSError(QString message, int code);
    int ErrorCode() const noexcept { return FCode; }

    // "System Error.  Code: N.\r\n<text>", or the no-code message when code is 0.
    static EOSError FromCode(int code, const QString& systemText);

private:
    int FCode;
};

// The printer object cannot do what was asked (no device, job already open...).
class EPrinter : public Exception {
public:
    using Exception::Exception;
};

// Removes trailing blanks and full stops, as system error texts are quoted
// inside our own sentences.
QString TrimSystemText(const QString& text);

// A value the user gave, cut to 64 characters with an ellipsis for quoting in
// a message: a value megabytes long would otherwise flood the error report.
QString Quoted(const QString& text);
