#include "platform/serial/PortJob.h"

#include "common/Exceptions.h"
#include "cutter/BufferHandshake.h"
#include "platform/DrawnJob.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortSender.h"

namespace {

DeviceSettings PortDrawing(DeviceSettings settings)
{
    settings.Language = PortLanguage(settings);
    return settings;
}

class PortJob final : public JobDestination {
public:
    PortJob(std::unique_ptr<TPortLink> port, const DeviceSettings& settings, const std::string& title)
        : FPort(std::move(port)), FLine(settings.Line), FLanguage(PortLanguage(settings)),
          FJob(PortDrawing(settings), title)
    {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override
    {
        SendToPort(*FPort, FLine, FJob.Finish(), FLanguage);
        return {};
    }

private:
    std::unique_ptr<TPortLink> FPort;
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
    return std::make_unique<PortJob>(OpenPort(path, settings.Line), settings, title);
}
