#pragma once

// The handshake for cutters that hold a job back by neither XON/XOFF nor
// CTS: before each block the cutter is asked how much room its buffer has,
// and the block is no larger. HP calls it the "software checking handshake"
// (HP 7470A Interfacing and Programming Manual, chapter 10, "The Output
// Buffer Space Instruction, ESC . B": the answer is the bytes of buffer
// space available, followed by the output terminator). What is asked, what
// the answers allow and why a job was held: shared by the senders of both
// systems, which do the asking.

#include "cutter/CutterQuestions.h"
#include "cutter/DeviceSettings.h"

#include <cstdint>
#include <string>
#include <string_view>

// Blocks no larger than this even when the cutter says its buffer is
// larger: more gains nothing, and an absurd answer stays harmless.
constexpr std::int64_t LargestHandshakeBlock = 64 * 1024;
// The block limit when the cutter does not tell its buffer's size: HP's
// own cutters and plotters hold 1 KiB, so a larger buffer is only asked a
// little more often.
constexpr std::int64_t UntoldHandshakeBlock = 1024;

// Why a job in the language cannot be sent with the flow control, for the
// user: the cutter is to be asked and the language has no free-space
// question. Empty when it can.
std::string HandshakeProblem(SendAs language, FlowControl flow);

class TBufferHandshake {
public:
    // questionBytes: the free-space question's own length, which takes room
    // in the cutter's buffer after each block; bufferSize: the buffer's size
    // as the cutter answered it, 0 when it did not.
    TBufferHandshake(SendAs language, std::int64_t questionBytes, std::int64_t bufferSize);
    // For a job in the language (HandshakeProblem empty for it): the cutter is
    // asked its buffer's size first, through ask.
    static TBufferHandshake Start(SendAs language, const CutterAsker& ask);

    // The most one block may hold.
    std::int64_t BlockLimit() const { return FLimit; }
    // How much of text from `at` goes next when the cutter answered it has
    // freeSpace bytes free (BlockBytes, less the next question); 0: wait and
    // ask again. A piece larger than the cutter's whole buffer goes in
    // parts once the buffer is empty, since waiting would never make room.
    std::int64_t Block(std::string_view text, std::int64_t at, std::int64_t freeSpace) const;

    // The free-space question, and the block its reply allows (0 for a
    // reply with no number in it).
    const CutterAsk& Question() const { return FAsk; }
    std::int64_t Answered(std::string_view text, std::int64_t at, const CutterReply& reply);
    // Why the job waits, by the last reply: "no room in its buffer" or "no
    // answer to ESC.B".
    std::string HeldBy() const;

private:
    SendAs FLanguage;
    CutterAsk FAsk;
    std::int64_t FQuestion;
    std::int64_t FLimit;
    bool FAnswered = false;
};
