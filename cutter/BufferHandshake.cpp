#include "cutter/BufferHandshake.h"

#include "common/Text.h"
#include "cutter/CutterLanguage.h"

#include <algorithm>

std::string HandshakeProblem(SendAs language, FlowControl flow)
{
    if (flow != FlowControl::Query || QuestionIn(language, CutterQuestion::FreeSpace))
        return {};
    return Format("%1 has no question for the free space in a cutter's buffer, so the cutter cannot be asked "
                  "before each block: choose XON/XOFF, RTS/CTS or none as the flow control",
                  LanguageName(language));
}

TBufferHandshake::TBufferHandshake(SendAs language, std::int64_t questionBytes, std::int64_t bufferSize)
    : FLanguage(language), FAsk(QuestionIn(language, CutterQuestion::FreeSpace).value_or(CutterAsk{})),
      FQuestion(std::max<std::int64_t>(questionBytes, 0)),
      FLimit(bufferSize > FQuestion ? std::min(bufferSize, LargestHandshakeBlock) : UntoldHandshakeBlock)
{}

TBufferHandshake TBufferHandshake::Start(SendAs language, const CutterAsker& ask)
{
    const std::optional<CutterAsk> freeSpace = QuestionIn(language, CutterQuestion::FreeSpace);
    const auto questionBytes = static_cast<std::int64_t>(freeSpace ? freeSpace->Bytes.size() : 0);
    std::int64_t size = 0;
    if (const std::optional<CutterAsk> question = QuestionIn(language, CutterQuestion::BufferSize))
        size = ReadAnswer(language, CutterQuestion::BufferSize, ask(*question)).Number.value_or(0);
    return {language, questionBytes, size};
}

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

std::int64_t TBufferHandshake::Answered(std::string_view text, std::int64_t at, const CutterReply& reply)
{
    const std::optional<std::int64_t> free = ReadAnswer(FLanguage, CutterQuestion::FreeSpace, reply).Number;
    FAnswered = free.has_value();
    return free ? Block(text, at, *free) : 0;
}

std::string TBufferHandshake::HeldBy() const
{
    return FAnswered ? "no room in its buffer" : Format("no answer to %1", FAsk.Instruction);
}
