#include "common/Exceptions.h"

#include "common/Text.h"

Exception::Exception(std::string message) : FMessage(std::move(message))
{}

EOSError::EOSError(std::string message, int code) : Exception(std::move(message)), FCode(code)
{}

EOSError EOSError::FromCode(int code, std::string_view systemText)
{
    if (code == 0)
        return EOSError("A call to an OS function failed", 0);
    return EOSError(Format("System Error.  Code: %1.\r\n%2", code, TrimSystemText(systemText)), code);
}
