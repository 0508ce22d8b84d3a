#pragma once

// The application's printer object and its drawing surface: the operations
// printing and status need from the platform, with no CUPS or Qt print types
// in the interface, so another backend can sit beside the CUPS one.

#include "common/Types.h"
#include "cutter/CutterCorrections.h"
#include "platform/PortSettings.h"

#include <QString>

#include <optional>

// How a job reaches the device: drawn as a page for the printing system's
// driver, or written in the cutter's own command language and sent raw.
enum class SendAs { Driver, HPGL, DMPL, GPGL, CAMMGL };

// A language's word in settings files and on the command line ("driver",
// "hpgl", "dmpl", "gpgl", "camm"), and back (any case; nullopt for none).
QLatin1String SendAsWord(SendAs language);
std::optional<SendAs> SendAsFromWord(const QString& word);

// The settings block that travels with a device.
struct DeviceSettings {
    QString PaperName;        // media keyword the device knows: "A4", "Letter", ...
    double PaperWidthMm = 0;  // portrait width of the sheet
    double PaperHeightMm = 0; // portrait height of the sheet
    // Unprintable margins (the device's imageable area), portrait, in mm.
    double MarginLeftMm = 0;
    double MarginBottomMm = 0;
    double MarginRightMm = 0;
    double MarginTopMm = 0;
    bool Landscape = false;
    int ResolutionDpi = 0; // device pixels per inch
    // Cutter language jobs only: the sheet above is the cutter's (no margins
    // unless set), and the cutter's axes may differ from the sheet's.
    SendAs Language = SendAs::Driver;
    bool Rotate90 = false; // plotter x runs along the sheet's y axis
    bool MirrorX = false;
    bool MirrorY = false;
    // Devices that are ports only (see IsPortDevice): the serial line.
    PortSettings Line{};
    // What calibration found for this device: all of it for cutter-language
    // jobs, the scale alone for jobs through a driver.
    CutterCorrections Corrections{};
    friend bool operator==(const DeviceSettings&, const DeviceSettings&) = default;
};

// Device name, driver and port. On CUPS: queue name, make-and-model, device URI.
struct DeviceIdentity {
    QString Device;
    QString Driver;
    QString Port;
    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};

inline constexpr int MM_TEXT = 1;
inline constexpr int MM_HIMETRIC = 3; // 0.01 mm per logical unit, y up

// A job's drawing surface, with the meaning GDI gives these operations.
class DrawingSurface {
public:
    virtual ~DrawingSurface() = default;
    virtual void SetMapMode(int mode) = 0;
    virtual void DPtoLP(TPoint* points, int count) = 0;
    virtual void SetViewportOrgEx(int x, int y) = 0;
    virtual void SetWindowOrgEx(int x, int y) = 0;
    virtual void MoveTo(int x, int y) = 0;
    virtual void Polyline(const TPoint* points, int count) = 0;
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

    // The printable area in device pixels.
    virtual int PageWidth() = 0;
    virtual int PageHeight() = 0;

    // Where the next jobs go instead of the device: a file (written whole or
    // not at all), "-" for standard output; empty for the device again.
    // Existing files are replaced only with replace set.
    virtual void SetOutputFile(const QString& path, bool replace) = 0;

    // Throws EPrinter("Printing in progress") when a job is already open and
    // EPrinter("Printer selected is not valid") when the device cannot be used.
    virtual void BeginDoc(const QString& title) = 0;
    virtual void EndDoc() = 0;
    virtual bool Printing() const = 0;
    // Valid between BeginDoc and EndDoc.
    virtual DrawingSurface& Canvas() = 0;
};

// The one printer object of the process. Until changed, its device is the
// user's default destination, as lp would choose it. Jobs may run on a
// worker thread while the window asks KnownPrinter or Printing.
TPrinter& Printer();
// The backend's own printer object, which Printer() is unless substituted.
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
