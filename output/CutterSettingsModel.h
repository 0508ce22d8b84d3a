#pragma once

// What Print Setup (Qt), Cutter Settings (Win32) and the command line decide
// alike about a device's cutter settings: which controls a device and a
// language offer, the sheet and the force and speed a change of language
// takes, the fields' limits, and typed fields read into settings with the
// message the user is shown. Plain functions: no toolkit, no threads, no
// print server (the caller asks it for a device's papers when needed).

#include "cutter/DeviceSettings.h"

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A spooler queue, a serial port the program writes itself, or a printer
// port ("/dev/usb/lp0"), which is written itself too but has no line to set.
enum class DeviceKind { Queue, SerialPort, PrinterPort };
DeviceKind DeviceKindOf(std::string_view device);

// A port has no driver to draw for: it takes a cutter language only.
bool OffersLanguage(DeviceKind kind, SendAs language);

// Which controls are in use for the device and the language; the rest are
// greyed.
struct CutterControls {
    bool SheetSize = false;       // the cutter's own sheet and a roll's size
    bool Axes = false;            // axes turned or mirrored
    bool PathCorrections = false; // blade offset, overcut, cut order, weed box
    bool Force = false;
    bool Speed = false;
    bool SerialLine = false;
    friend bool operator==(const CutterControls&, const CutterControls&) = default;
};
CutterControls OfferedControls(DeviceKind kind, SendAs language);

// The notes under the corrections: what is sent of the force and speed, and
// which corrections apply.
std::string ToolNote(SendAs language);
std::string CorrectionsNote(SendAs language);

// The fields, their limits (Low to High, 0 being "off" where it may be) and
// the decimals they are kept to.
// Flow: the serial line's flow control, which has no limits (LineProblem).
enum class CutterField { SheetWidth, SheetLength, ScaleX, ScaleY, BladeOffset, Overcut, WeedBox, Force, Speed, Flow };
struct FieldLimits {
    double Low = 0;
    double High = 0;
    int Decimals = 0;
    friend bool operator==(const FieldLimits&, const FieldLimits&) = default;
};
// Force and speed in the language's own range, 0 to 0 where it has no
// command for them.
FieldLimits LimitsOf(CutterField field, SendAs language = SendAs::Driver);
// The field's name in messages: "Sheet width", "Knife force".
std::string_view FieldName(CutterField field);

// A roll or any sheet the user sizes, to the hundredth of a mm, with no
// margins: "Custom.600x1000mm".
DeviceSettings CustomCutterSheet(double widthMm, double lengthMm);

// What a force and a speed set for one language become in another: the same
// numbers where the other counts them on the same scale (HPGL's and DMPL's
// grams), else 0, the cutter's own: a number on another scale would cut
// with another force, and a language without the command sends nothing.
ToolSetting ToolsInLanguage(SendAs from, SendAs to, const ToolSetting& tool);
// Why a language that has the commands drops a value set for another, for
// the user: "GP-GL counts the force in other units than HPGL"; empty when it
// drops none.
std::string OtherUnitsReason(SendAs from, SendAs to, const ToolSetting& tool);

// A device's own papers and its default one, for jobs through its driver.
struct DriverPapers {
    std::vector<DeviceSettings> Papers;
    DeviceSettings Defaults;
};
// Sets the language, and with it the force and speed (ToolsInLanguage) and
// the sheet: from the driver to a cutter language, the whole sheet of A4, or
// of Letter when the paper was Letter; back to the driver, the device's own
// paper of that size, else its default paper (driverPapers is asked only
// then; without it the sheet stays, for a paper chosen elsewhere); between
// cutter languages the sheet stays.
void ChangeLanguage(DeviceSettings& settings, SendAs to, const std::function<DriverPapers()>& driverPapers = {});

// What is known of a device before the user sets anything in the dialog:
// what was last confirmed for it, and its own settings.
struct KnownSettings {
    std::optional<DeviceSettings> Remembered;
    DeviceSettings Defaults;
};
// The settings the dialog opens with for a device: those set for it in this
// dialog or in use now (chosen), else those last confirmed for it, else its
// own. known is asked only when needed (it may ask the print server). A block
// that holds no sheet takes the device's, so a newly picked printer shows its
// paper rather than empty fields.
DeviceSettings SettingsToShow(const std::optional<DeviceSettings>& chosen, const std::function<KnownSettings()>& known);

// The serial line's lists, as both dialogs offer them.
enum class LineField { Speed, DataBits, Parity, StopBits, Flow };
struct LineOption {
    int Value;
    std::string_view Caption;
};
std::span<const LineOption> LineOptions(LineField field);
// The option the line is set to; -1 when the list does not offer its value.
int LineOptionIndex(LineField field, const PortSettings& line);
// Sets the line to the option; an index of no option leaves it as it is, so
// a value the list does not offer survives the dialog.
void TakeLineOption(LineField field, int index, PortSettings& line);

// Why the line cannot carry jobs in the language, for the user: the cutter
// is to be asked before each block and the language has no such question.
// Empty when it can.
std::string LineProblem(SendAs language, const PortSettings& line);

// A number typed into a field: the whole text, within the limits.
std::optional<double> FieldNumber(std::string_view text, const FieldLimits& limits);

// The fields of Cutter Settings as the user left them, numbers as typed.
struct CutterFields {
    SendAs Language = SendAs::Driver;
    std::string SheetWidth, SheetLength;
    bool Rotate90 = false, MirrorX = false, MirrorY = false;
    std::string ScaleX, ScaleY, BladeOffset, Overcut, Force, Speed;
    PortSettings Line;
};
// The settings the fields give, or the first field that holds no usable
// value and what to tell the user about it.
struct CutterFieldsReading {
    std::optional<DeviceSettings> Settings;
    CutterField Wrong = CutterField::SheetWidth;
    std::string Message;
};
CutterFieldsReading ReadCutterFields(const DeviceSettings& before, const CutterFields& fields);
