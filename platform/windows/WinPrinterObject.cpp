// The process's printer object and how a device name is read on Windows: a
// COM port ("COM3", "\\.\COM3") is a port the program writes itself, any
// other name a printer of the spooler.

#include "platform/PrinterObject.h"

#include "platform/windows/WinPort.h"

#include <atomic>

namespace {
std::atomic<TPrinter*> Substitute{nullptr};

} // namespace

bool IsPortDevice(std::string_view device)
{
    return IsComPortName(device);
}

TPrinter& Printer()
{
    if (TPrinter* p = Substitute.load())
        return *p;
    return SystemPrinter();
}

ScopedPrinter::ScopedPrinter(TPrinter& substitute) : FPrevious(Substitute.exchange(&substitute))
{}

ScopedPrinter::~ScopedPrinter()
{
    Substitute.store(FPrevious);
}
