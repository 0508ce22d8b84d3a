#pragma once

// Asking a cutter on a port its questions (CutterQuestions.h) and reading
// its answers, each within a time limit: on Linux over a TPortLink, on
// Windows over a COM port. Blocking: for a worker thread, never the window's.

#include "cutter/CutterQuestions.h"
#include "platform/serial/PortSender.h"

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// The default limit for one answer.
inline constexpr std::chrono::milliseconds AnswerLimit{2000};

// Sends question and reads the answer up to terminator, waiting at most
// limit in all. What arrived before the question (a late answer to an
// earlier one) is dropped first; XON and XOFF in the answer are left out.
// Bytes with the high bit set end the wait once the line falls quiet: the
// answer is garbled however much more comes. Never throws for the cutter's
// doing: a port that fails comes back as Lost.
CutterReply AskCutter(TPortLink& link, std::string_view question, char terminator, std::chrono::milliseconds limit);

// Opens the port device with line, asks it the questions of language
// (AskAll), and closes it. Throws EPrinter for a device that is not a port
// (a printing system's queue cannot answer) and as OpenPort does.
std::vector<CutterAnswer> AskCutterOnPort(const std::string& device, const PortSettings& line, SendAs language,
                                          std::chrono::milliseconds limit, bool stopWhenSilent);

// The sentence for a device that is not a port.
std::string NotAPortToAsk(const std::string& device);
