#pragma once

// A finished job written to a file instead of a device, on Windows: for
// cutters that read a USB stick, and for checking a job before cutting.

#include <functional>
#include <string>
#include <string_view>

// path is UTF-8; "-" is standard output. The bytes go to a temporary file
// beside the target that takes its name at the end (MoveFileExW), so a
// failure or a stop leaves nothing behind; an existing file is replaced only
// with replace set, also one that appeared while the job was written. A
// folder or a device (COM1, NUL, \\.\...) is refused: a job reaches a device
// only as a job. Throws EFileError, or EPrinter when stopped.
void CheckJobFile(const std::string& path, bool replace);
void WriteJobFile(const std::string& path, bool replace, std::string_view bytes);

// Tests: runs between writing the job and giving it its name.
void SetJobFileCommitHook(std::function<void()> hook);
