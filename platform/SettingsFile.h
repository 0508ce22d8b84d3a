#pragma once

// The settings file on disk, for the settings store: what each system does to
// read it and to write it again whole (platform/linux/, platform/windows/).

#include <cstddef>
#include <functional>
#include <string>

// The file's whole text, empty when there is none yet. When it cannot serve
// as the settings file (not a regular file, too large, unreadable), problem
// ends a sentence that begins with its name and the text is empty.
std::string ReadSettingsText(const std::string& path, std::string& problem);

// Reads the file under a lock that other saves wait for, hands its text to
// change and puts what comes back in its place, whole or not at all, first
// making sure the disk has room to spare. Throws EFileError("The settings
// were not saved: ...") saying why.
void RewriteSettingsText(const std::string& path, const std::function<std::string(const std::string& old)>& change,
                         std::size_t room);
