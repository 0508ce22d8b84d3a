#pragma once

// Messages are built with Format and quote the user's values with Quoted.
#include "common/Text.h"

#include <exception>
#include <string>
#include <string_view>

// Every failure the program reports is one of these; the message (UTF-8) is
// what the user sees in the error box.
class Exception : public std::exception {
public:
    explicit Exception(std::string message);
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
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
    EOSError(std::string message, int code);
    int ErrorCode() const noexcept { return FCode; }

    // "System Error.  Code: N.\r\n<text>", or the no-code message when code is 0.
    static EOSError FromCode(int code, std::string_view systemText);

private:
    int FCode;
};

// The printer object cannot do what was asked (no device, job already open...).
class EPrinter : public Exception {
public:
    using Exception::Exception;
};
