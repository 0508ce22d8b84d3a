// A job for a cutter on a COM port: the port is held from the start, so a
// missing or busy port is reported before anything is drawn; the job is drawn
// in the cutter's language and written when finished.

#include "common/Exceptions.h"
#include "cutter/BufferHandshake.h"
#include "platform/DrawnJob.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortJob.h"
#include "platform/windows/WinPort.h"

namespace {

DeviceSettings PortDrawing(DeviceSettings settings)
{
    settings.Language = PortLanguage(settings);
    return settings;
}

class PortJob final : public JobDestination {
public:
    PortJob(std::unique_ptr<TComPort> port, const DeviceSettings& settings, const std::string& title)
        : FPort(std::move(port)), FLine(settings.Line), FLanguage(PortLanguage(settings)),
          FJob(PortDrawing(settings), title)
    {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override
    {
        SendToComPort(*FPort, FLine, FJob.Finish(), FLanguage);
        return {};
    }

private:
    std::unique_ptr<TComPort> FPort;
    PortSettings FLine;
    SendAs FLanguage;
    DrawnJob FJob;
};

} // namespace

std::unique_ptr<JobDestination> OpenPortJob(const std::string& path, const DeviceSettings& settings,
                                            const std::string& title)
{
    // Refused before the job is drawn, let alone sent.
    if (const std::string problem = HandshakeProblem(PortLanguage(settings), settings.Line.Flow); !problem.empty())
        throw EPrinter(problem);
    return std::make_unique<PortJob>(OpenComPort(path, settings.Line), settings, title);
}
