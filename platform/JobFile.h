#pragma once

// A finished job written to a file instead of a device: for cutters that
// read a USB stick, and for checking a job before cutting.

#include <functional>
#include <string>
#include <string_view>

// "-" is standard output. A regular file (or a name not yet taken) gets
// the bytes under a temporary name that is renamed at the end, so a failure
// leaves nothing behind; an existing one is replaced only with replace set.
// A pipe or a character device (/dev/null, a /dev/fd/N of the shell) is
// written as it is, never renamed over. A folder, a block device or a socket
// is refused. Links are followed. The path is the file system's own bytes.
// Throws EFileError.
void CheckJobFile(const std::string& path, bool replace);
void WriteJobFile(const std::string& path, bool replace, std::string_view bytes);

// Removes the temporary file of a job being written, if any, and nothing
// else. Safe in a signal handler.
void RemoveJobTemporaryFile() noexcept;

// Tests: runs between writing the job and giving it its name.
void SetJobFileCommitHook(std::function<void()> hook);
