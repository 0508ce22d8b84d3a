#pragma once

#include <exception>
#include <string>
#include <string_view>

// Every failure the program reports is one of these; the message is what the
// user sees in the error box.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : FMessage(std::move(message)) {}
    const std::string& Message() const noexcept { return FMessage; }
    const char* what() const noexcept override { return FMessage.c_str(); }

private:
    std::string FMessage;
};

class EFileError : public Exception {
public:
    using Exception::Exception;
};

// An operating-system or spooler call that failed; Code is 0 when the system
// reported no code.
class EOSError : public Exception {
public:
    EOSError(std::string message, int code) : Exception(std::move(message)), FCode(code) {}
    int ErrorCode() const noexcept { return FCode; }

    // "System Error.  Code: N.\r\n<text>", or the no-code message when code is 0.
    static EOSError FromCode(int code, std::string_view systemText);

private:
    int FCode;
};

class EPrinter : public Exception {
public:
    using Exception::Exception;
};

// Removes trailing blanks and full stops.
std::string TrimSystemText(std::string_view text);

// Cut to 64 code points with an ellipsis, never inside a UTF-8 sequence.
std::string Quoted(std::string_view text);
