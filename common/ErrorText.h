#pragma once

// The words of the standard error report, shared by the window's box and the
// command line's standard error. UTF-8.

#include <string>
#include <string_view>

// The title of the taskbar entry and of every error box.
inline constexpr auto ApplicationTitle = "Vellico Output Test";

// The box text: the message, with a full stop appended when its last
// character sorts above '.' (letters, digits, most punctuation, any
// character beyond ASCII).
std::string ErrorReportText(std::string_view message);

// The text of the exception being handled; call only inside a catch block.
std::string CurrentExceptionMessage();
