#pragma once

// Text at the Win32 edge: the program speaks UTF-8, Windows' W calls UTF-16.

#include "common/Exceptions.h"

#include <string>
#include <string_view>

// Invalid UTF-8 becomes U+FFFD, as the system converts it.
std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

// The system's own words for an error code (FormatMessageW, the user's
// language), without the line break it ends with.
std::string SystemErrorText(unsigned long code);

// "System Error.  Code: N.\r\n<text>" for the calling thread's last error.
EOSError LastOSError();
