#pragma once

// The handshake for cutters that hold a job back by neither XON/XOFF nor
// CTS: before each block the cutter is asked how much room its buffer has,
// and the block is no larger. HP calls it the "software checking handshake"
// (HP 7470A Interfacing and Programming Manual, chapter 10, "The Output
// Buffer Space Instruction, ESC . B"). The arithmetic alone, shared by the
// senders of both systems; the asking is theirs.

#include "cutter/DeviceSettings.h"

#include <cstdint>
#include <string_view>

// Blocks no larger than this even when the cutter says its buffer is
// larger: more gains nothing, and an absurd answer stays harmless.
constexpr std::int64_t LargestHandshakeBlock = 64 * 1024;
// The block limit when the cutter does not tell its buffer's size: a
// cutter's smallest common buffer (HP's own held 1 KiB), so a larger one is
// asked a little more often and nothing worse.
constexpr std::int64_t UntoldHandshakeBlock = 1024;

class TBufferHandshake {
public:
    // questionBytes: the free-space question's own length, which takes room
    // in the cutter's buffer after each block; bufferSize: the buffer's size
    // as the cutter answered it, 0 when it did not.
    TBufferHandshake(SendAs language, std::int64_t questionBytes, std::int64_t bufferSize);

    // The most one block may hold.
    std::int64_t BlockLimit() const { return FLimit; }
    // How much of text from `at` goes next when the cutter answered it has
    // freeSpace bytes free (BlockBytes, less the next question); 0: wait and
    // ask again. A piece larger than the cutter's whole buffer goes in
    // parts once the buffer is empty, since waiting would never make room.
    std::int64_t Block(std::string_view text, std::int64_t at, std::int64_t freeSpace) const;

private:
    SendAs FLanguage;
    std::int64_t FQuestion;
    std::int64_t FLimit;
};
