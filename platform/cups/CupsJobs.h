#pragma once

// Handing a finished job to the spooler.

#include "platform/JobProgress.h"
#include "platform/PrinterObject.h"

#include <QByteArray>
#include <QIODevice>

#include <memory>
#include <optional>

namespace vcups {

// One Print-Job: one document in the given format ("application/pdf", or
// "application/vnd.cups-raw" for the cutter's own language), nothing scaled
// to fit. Returns the job id; throws EOSError with the server's status and
// message when refused.
//
// An answer that comes too late is not taken as a refusal: the queue is asked
// whether it now holds a new job of ours, so one Cut never gives both a job
// and an error.
int SubmitJob(const QString& device, const DeviceSettings& settings, const QString& title, const char* format,
              const QByteArray& document);

class Connection;

// A raw job (the cutter's own language) whose bytes go to the server while
// they are drawn, so a large job is neither held in memory nor waited for
// twice. Opening starts the Print-Job; Finish ends the document and takes
// the answer as SubmitJob does. Dropped unfinished, the connection closes
// and the server keeps nothing.
class RawJobStream final : public QIODevice {
public:
    // Throws EOSError when the server cannot be reached or refuses at once.
    RawJobStream(const QString& device, const QString& title);
    ~RawJobStream() override;
    int Finish();

protected:
    qint64 writeData(const char* data, qint64 size) override;
    qint64 readData(char*, qint64) override { return -1; }

private:
    QString FDevice;
    std::optional<int> FBefore;
    std::unique_ptr<Connection> FHttp;
    int FFailureCode = 0;
    QString FFailure;
    TStopMark FStop;
};

} // namespace vcups
