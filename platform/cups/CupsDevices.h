#pragma once

// Reading a destination's identity, record and paper settings from the
// server's printer attributes.

#include "platform/PrinterObject.h"
#include "platform/Spooler.h"
#include "platform/cups/IppClient.h"

#include <vector>

namespace vcups {

// Every attribute the helpers below read, for one request that serves all.
extern const char* const DeviceAttributes[];
extern const int DeviceAttributeCount;

DeviceIdentity IdentityFrom(ipp_t* printerAttrs);
PrinterInfo2 InfoFrom(ipp_t* printerAttrs);
std::vector<DeviceSettings> PapersFrom(ipp_t* printerAttrs);
DeviceSettings DefaultSettingsFrom(ipp_t* printerAttrs);

// Whether the destination needs the cutter's own language: a raw queue, or
// one that does not take PDF.
bool TakesCutterLanguage(ipp_t* printerAttrs);

// The PWG media keyword for a settings block ("iso_a4_210x297mm").
std::string MediaKeyword(const DeviceSettings& settings);

// The attributes of one destination, or of the default one (empty name).
IppPtr QueryDevice(Connection& connection, const std::string& name, IppError& err);

} // namespace vcups
