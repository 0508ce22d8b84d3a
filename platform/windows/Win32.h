#pragma once

// The Win32 headers, for the Windows platform code only. The program's own
// names (the spooler queries' OpenPrinter, EnumJobs, GetJob; the printer
// object's SetPrinter; DeviceCapabilities) are macros there for their
// A/W forms: those macros go, and this code calls the W forms by name.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <winspool.h>

#undef OpenPrinter
#undef EnumJobs
#undef GetJob
#undef SetJob
#undef GetPrinter
#undef SetPrinter
#undef EnumPrinters
#undef GetDefaultPrinter
#undef DeviceCapabilities
#undef StartDoc
#undef CreateDC
#undef MM_TEXT
#undef MM_HIMETRIC
