#pragma once

// The application's printer object: the operations printing and status need
// from the platform, with no CUPS or Qt print types in the interface, so
// another backend can sit beside the CUPS one.

#include "cutter/DeviceSettings.h"
#include "cutter/DrawingSurface.h"
#include "platform/Spooler.h"

#include <string>
#include <string_view>

// A device named by its node ("/dev/ttyUSB0", "/dev/usb/lp0") is a port the
// program writes itself (opening it refuses a node that is not one); any
// other name is a spooler destination.
bool IsPortDevice(std::string_view device);

// Device name, driver and port. On CUPS: queue name, make-and-model, device URI.
struct DeviceIdentity {
    std::string Device;
    std::string Driver;
    std::string Port;
    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

// Where one job goes and what it is drawn for: a value handed with the job,
// so nothing of the printer object's device is set before it and restored
// after.
struct JobTarget {
    DeviceIdentity Identity; // empty Device: none (a file's job only)
    DeviceSettings Settings;
    // A file instead of the device, written whole or not at all, named in the
    // file system's own bytes; empty: the device; "-": standard output.
    std::string OutputFile;
    bool Replace = false; // an existing OutputFile may be replaced
};

class TPrinter {
public:
    virtual ~TPrinter() = default;

    // Throws EPrinter("There is no default printer currently selected") when
    // the server says there is no device at all, and EOSError when it cannot
    // be asked. May ask the server: not for the window's thread.
    virtual void GetPrinter(DeviceIdentity& identity, DeviceSettings& settings) = 0;
    // The device as far as it is known without asking anyone; false before
    // the default device has been looked up. Safe on any thread.
    virtual bool KnownPrinter(DeviceIdentity& identity, DeviceSettings& settings) = 0;
    // Makes the device current; drops any device context. Throws
    // EPrinter("Printing in progress") while a job is open.
    virtual void SetPrinter(const DeviceIdentity& identity, const DeviceSettings& settings) = 0;

    // The printable area in device pixels (the open job's, else the
    // current device's).
    virtual int PageWidth() = 0;
    virtual int PageHeight() = 0;

    // Opens a job for the target's device and settings, or its file,
    // whatever the current device is; that stays as it was. The page size is
    // the target's until the job ends. Throws EPrinter("Printing in
    // progress") when a job is already open and EPrinter("Printer selected is
    // not valid") when the device cannot be used.
    virtual void BeginJob(const std::string& title, const JobTarget& target) = 0;
    // Hands the job over and returns it as the spooler took it (Id 0 for a
    // file or a port); throws when it did not arrive whole.
    virtual HandedJob EndDoc() = 0;
    // Drops the open job: nothing of it reaches the queue, the port or the
    // file. Never throws.
    virtual void AbortDoc() noexcept = 0;
    virtual bool Printing() const = 0;
    // Valid between BeginJob and EndDoc.
    virtual DrawingSurface& Canvas() = 0;
};

// The one printer object of the process. Until changed, its device is the
// user's default destination, as lp would choose it. Jobs may run on a
// worker thread while the window asks KnownPrinter or Printing.
TPrinter& Printer();
// The program's own printer object (routing each job to a file, a port or
// the spooler backend), which Printer() is unless substituted.
TPrinter& SystemPrinter();

// Puts another printer object in place of the process's one while it lives
// (tests: a recording fake, no server needed).
class ScopedPrinter {
public:
    explicit ScopedPrinter(TPrinter& substitute);
    ~ScopedPrinter();
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;

private:
    TPrinter* FPrevious;
};
