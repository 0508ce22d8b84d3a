#pragma once

// The destination a user's print commands go to when they name none, before
// the server is asked: what lp and lpstat -d follow.

#include <string>

namespace vcups {

struct UserDefault {
    // The queue; the instance part of "name/instance" is dropped, as
    // instances only preset options. Empty when nothing names one (the
    // server's default applies then) or when the value can name none.
    std::string Name;
    // The value as written, and where: "LPDEST", "PRINTER" or the path of an
    // lpoptions file. Origin is empty when nothing names a destination.
    std::string Value;
    std::string Origin;
};

// LPDEST, then PRINTER (but not the placeholder "lp"), then the "Default"
// line of the user's lpoptions, then of the system's. An lpoptions file that
// is not a regular file is passed over: a pipe or a device could block.
UserDefault UserDefaultDestination();

// Throws EPrinter, quoting the value and saying where it came from, when a
// value was given that can name no queue: empty, or a path such as
// /dev/ttyUSB0 (lp refuses both rather than use the server's default).
void CheckUserDefault(const UserDefault& chosen);

// "Printer selected is not valid", naming the device and where it came from
// when it is the user's default destination.
std::string NotValidMessage(const std::string& device);

} // namespace vcups
