#pragma once

// Where the settings chosen for each device are kept on Windows: an INI file
// under the user's roaming application data, as Windows programs keep theirs
// (%APPDATA%\Vellico\vellico-output-test.ini), in the same text as the Linux
// program's file (IniText.h), so a file copied across reads the same.

#include <optional>
#include <string>
#include <string_view>

// UTF-8; empty when the user has no application data folder.
std::string SettingsFilePath();

// The file's whole text; empty when there is none yet. nullopt, with the
// reason in *note, when something other than a file is in its place.
std::optional<std::string> ReadSettingsFile(const std::string& path, std::string* note);

// Writes the whole text in one step (a temporary file renamed over the old
// one), making the folder first. Best effort: false when it could not.
bool WriteSettingsFile(const std::string& path, std::string_view text);
