#pragma once

// The destination a user's print commands go to when they name none, before
// the server is asked: what lp and lpstat -d follow.

#include <QString>

namespace vcups {

// LPDEST, then PRINTER (but not the placeholder "lp"), then the "Default"
// line of the user's lpoptions, then of the system's. The instance part of
// "name/instance" is dropped: instances only preset options. Empty when none
// of these names a destination; the server's default applies then.
QString UserDefaultDestination();

} // namespace vcups
