#include "platform/PrinterObject.h"

#include <atomic>

namespace {
std::atomic<TPrinter*> Substitute{nullptr};

} // namespace

bool IsPortDevice(std::string_view device)
{
    return device.starts_with("/dev/");
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
