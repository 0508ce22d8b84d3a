#pragma once

// Cutters on Windows COM ports (\\.\COMn): the line set up in a DCB, the
// device's own flow control (XON/XOFF or RTS/CTS) holding the job while the
// cutter asks, each wait bounded, the port drained before it is closed. The
// same hold limit and the same words as the Linux ports.

#include "cutter/CutterQuestions.h"
#include "cutter/PortSettings.h"
#include "platform/serial/PortSender.h"

#include <chrono>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// "COM1" .. "COM256", or the same behind "\\.\", in any case.
bool IsComPortName(std::string_view device);

// The machine's COM ports, in number order ("COM1", "COM3"): the names the
// system maps (QueryDosDevice) and those the serial drivers announce
// (SERIALCOMM). A mapped port's device may still be missing.
std::vector<std::string> ListComPorts();

// Port names as the list has them: upper case without "\\.\", each port
// once, in number order ("COM2" before "COM10").
std::vector<std::string> ComPortsInOrder(std::vector<std::string> names);

// One open port, held exclusively until it is dropped.
class TComPort {
public:
    virtual ~TComPort() = default;
    virtual const std::string& Name() const = 0;
};

// Opens and sets up a port for one job. Throws EPrinter with what the user
// can do: a name that is no COM port, a port that is not there, one in use
// by another program, settings the port cannot take; EOSError otherwise.
std::unique_ptr<TComPort> OpenComPort(const std::string& name, const PortSettings& settings);

// Sends the whole job or throws EPrinter saying it was not completed: the
// cutter held it (XOFF or CTS) or the port took nothing for longer than
// the limit, the cutter went away, or the job was stopped. A stopped job in
// a cutter's language first finishes the pair under way and lifts the
// knife, as on Linux; a driver's job drops what the port still holds.
void SendToComPort(TComPort& port, const PortSettings& settings, std::string_view job,
                   SendAs language = SendAs::Driver);

// The hold limit (PortTimeLimits), StopPortJobs and PortSending are the
// ones of PortSender.h, as on Linux.

// Sends question on the open port and reads its answer up to terminator
// within limit, as AskCutter does on Linux; framing, parity and overrun
// errors the port reports meanwhile are a LineFault. AskCutterOnPort and
// NotAPortToAsk (PortQuestions.h) are built on it.
CutterReply AskComCutter(TComPort& port, std::string_view question, char terminator, std::chrono::milliseconds limit);
