// A job written to a file: checked before drawing, written when finished.

#include "platform/DrawnJob.h"
#include "platform/JobDestination.h"
#include "platform/JobFile.h"

namespace {

class FileJob final : public JobDestination {
public:
    FileJob(const std::string& path, bool replace, const DeviceSettings& settings, const std::string& title)
        : FPath(path), FReplace(replace), FJob(settings, title)
    {}
    DrawingSurface& Canvas() override { return FJob.Canvas(); }
    HandedJob Finish() override
    {
        WriteJobFile(FPath, FReplace, FJob.Finish());
        return {};
    }

private:
    std::string FPath;
    bool FReplace;
    DrawnJob FJob;
};

} // namespace

std::unique_ptr<JobDestination> OpenFileJob(const std::string& path, bool replace, const DeviceSettings& settings,
                                            const std::string& title)
{
    CheckJobFile(path, replace);
    return std::make_unique<FileJob>(path, replace, settings, title);
}
