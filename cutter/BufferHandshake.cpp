#include "cutter/BufferHandshake.h"

#include "cutter/CutterLanguage.h"

#include <algorithm>

TBufferHandshake::TBufferHandshake(SendAs language, std::int64_t questionBytes, std::int64_t bufferSize)
    : FLanguage(language), FQuestion(std::max<std::int64_t>(questionBytes, 0)),
      FLimit(bufferSize > FQuestion ? std::min(bufferSize, LargestHandshakeBlock) : UntoldHandshakeBlock)
{}

std::int64_t TBufferHandshake::Block(std::string_view text, std::int64_t at, std::int64_t freeSpace) const
{
    const auto size = static_cast<std::int64_t>(text.size());
    if (at < 0 || at >= size)
        return 0;
    // The question asked after this block lands in the same buffer.
    const std::int64_t room = std::min(freeSpace, FLimit) - FQuestion;
    if (room <= 0)
        return 0;
    const std::int64_t block = BlockBytes(FLanguage, text, at, room);
    if (block == 0 && room >= FLimit - FQuestion)
        return std::min(room, size - at);
    return block;
}
