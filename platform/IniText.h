#pragma once

// The text of an INI settings file as the settings files of the program's
// earlier versions were written (Qt's INI layout): sections in brackets, a
// key's "/" written as "\", bytes other than letters, digits, "_", "-" and
// "." escaped as %XX in keys, and values that may be quoted, hold C escapes,
// or be lists separated by commas. Read and written with the standard
// library alone, so every platform keeps the same file.

#include <map>
#include <string>
#include <string_view>
#include <vector>

struct IniValue {
    // One item for a plain value; a list's items otherwise.
    std::vector<std::string> Items;
    bool IsList = false;
    // The value as text: a list's items joined by commas.
    std::string Text() const;
    friend bool operator==(const IniValue&, const IniValue&) = default;
};

// Full keys ("Devices/Name/SendAs") to their values, UTF-8.
using IniEntries = std::map<std::string, IniValue>;

// Reads the whole text. Lines that are not sections or keys are passed over,
// as are comments (";" or "#" at the start of a line).
IniEntries ParseIni(std::string_view text);

// The whole text for the entries, grouped by their first path part.
std::string FormatIni(const IniEntries& entries);

// A plain text value, quoted and escaped where the file needs it.
IniValue IniText(std::string text);
// A number as the file keeps it: the shortest text that reads back the same.
IniValue IniNumber(double value);
IniValue IniBool(bool value);
