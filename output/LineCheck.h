#pragma once

// Talking with the cutter on a port: what it answers to its language's
// questions, and what that says of the line to it. One decision for the
// command line and both windows. Blocking (each question waits up to its
// limit): for a worker thread, never the window's.

#include "cutter/CutterQuestions.h"
#include "cutter/DeviceSettings.h"
#include "platform/serial/PortQuestions.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Every question of the port's language (settings.Language; a port set to
// the driver is asked in HPGL), each within limit. Throws EPrinter for a
// device that is not a port, and as opening the port does.
std::vector<CutterAnswer> IdentifyCutter(const std::string& device, const DeviceSettings& settings,
                                         std::chrono::milliseconds limit = AnswerLimit);

// One line for the user per question: its name and instruction, then the
// answer and its meaning, or why there is none ("not asked: CAMM-GL has no
// such question"). With raw, the bytes that came as well.
std::vector<std::string> AnswerLines(SendAs language, const std::vector<CutterAnswer>& answers, bool raw);

// Asks as IdentifyCutter does, stopping once the line is judged, and judges
// it: with no flow control the job is the sample as the device would cut it
// (all of it goes before the cutter has any say). Throws as IdentifyCutter.
LineCheck CheckCutterLine(const std::string& device, const DeviceSettings& settings,
                          std::chrono::milliseconds limit = AnswerLimit);

// The windows' "Check the line": CheckCutterLine's sentence, or why the
// port could not be asked. Never throws.
std::string LineCheckSentence(const std::string& device, const DeviceSettings& settings);

// The bytes of the built-in sample's job for a device in a cutter language
// (at the top left of its sheet, with its corrections).
std::int64_t SampleJobBytes(const DeviceSettings& settings);
