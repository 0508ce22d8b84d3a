#include "platform/serial/PortQuestions.h"

#include "common/Exceptions.h"
#include "platform/PrinterObject.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long garbled bytes may pause before the answer counts as over.
constexpr milliseconds QuietAfterNoise{100};

} // namespace

std::string NotAPortToAsk(const std::string& device)
{
    return Format("\"%1\" is not a port: only a cutter on a port (a serial line or a USB printer port, such as "
                  "/dev/ttyUSB0) can be asked; a printing system's queue cannot carry its answers",
                  Quoted(device));
}

CutterReply AskCutter(TPortLink& link, std::string_view question, char terminator, milliseconds limit)
{
    CutterReply reply;
    const auto deadline = Clock::now() + limit;
    const auto left = [&] {
        return std::max(milliseconds(0), std::chrono::duration_cast<milliseconds>(deadline - Clock::now()));
    };
    const std::int64_t errorsBefore = link.LineErrors();
    char input[64];
    while (link.Wait(false, milliseconds(0)) & TPortLink::Readable) {
        if (link.Read(input, sizeof input) <= 0)
            break;
    }
    std::size_t written = 0;
    while (written < question.size()) {
        if (Clock::now() >= deadline)
            return reply; // the port never took it: as good as no answer
        const int ready = link.Wait(true, std::min(left(), milliseconds(20)));
        if (ready & TPortLink::HungUp) {
            reply.Lost = true;
            return reply;
        }
        if (!(ready & TPortLink::Writable))
            continue;
        const std::int64_t n =
            link.Write(question.data() + written, static_cast<std::int64_t>(question.size() - written));
        if (n < 0) {
            reply.Lost = true;
            return reply;
        }
        written += static_cast<std::size_t>(n);
    }
    CutterReplyReader reader(terminator);
    auto lastByte = Clock::now();
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline || (reader.Noisy() && now - lastByte >= QuietAfterNoise))
            break;
        const int ready = link.Wait(false, std::min(left(), reader.Noisy() ? QuietAfterNoise : milliseconds(50)));
        if (ready & TPortLink::Readable) {
            const std::int64_t n = link.Read(input, sizeof input);
            if (n < 0) {
                reader.Reply.Lost = true;
                break;
            }
            lastByte = Clock::now();
            if (reader.Take(std::string_view(input, static_cast<std::size_t>(n))))
                break;
        } else if (ready & TPortLink::HungUp) {
            reader.Reply.Lost = true;
            break;
        }
    }
    reply = std::move(reader.Reply);
    const std::int64_t errorsAfter = link.LineErrors();
    reply.LineFault = errorsBefore >= 0 && errorsAfter > errorsBefore;
    return reply;
}

std::vector<CutterAnswer> AskCutterOnPort(const std::string& device, const PortSettings& line, SendAs language,
                                          milliseconds limit, bool stopWhenSilent)
{
    if (!IsPortDevice(device))
        throw EPrinter(NotAPortToAsk(device));
    const std::unique_ptr<TPortLink> link = OpenPort(device, line);
    return AskAll(
        language, [&](const CutterAsk& ask) { return AskCutter(*link, ask.Bytes, ask.Terminator, limit); },
        stopWhenSilent);
}
