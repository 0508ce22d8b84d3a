#include "ui/SpoolerCalls.h"

#include "common/Exceptions.h"
#include "platform/Spooler.h"
#include "ui/ErrorReport.h"

#include <QMetaObject>
#include <QRunnable>

TSpoolerCalls::TSpoolerCalls(QObject* parent) : QObject(parent)
{
    FPool.setMaxThreadCount(KindCount);
    // A worker that finished is kept a while for the next tick's call.
    FPool.setExpiryTimeout(5000);
}

TSpoolerCalls::~TSpoolerCalls()
{
    FPool.waitForDone();
}

void TSpoolerCalls::WaitForIdle()
{
    FPool.waitForDone();
}

bool TSpoolerCalls::Start(Kind kind, std::function<QString()> work, std::function<void(const QString&)> done,
                          std::function<void(const QString&, bool, Clock::time_point)> failed)
{
    if (FBusy[kind])
        return false;
    FBusy[kind] = true;
    const Clock::time_point began = Clock::now();
    FPool.start([this, kind, began, work = std::move(work), done = std::move(done), failed = std::move(failed)] {
        QString result;
        bool ok = true;
        bool definite = true;
        try {
            result = work();
        } catch (const EOSError& e) {
            ok = false;
            definite = e.ErrorCode() != SpoolerUnavailableCode;
            result = QString::fromStdString(e.Message());
        } catch (...) {
            ok = false;
            result = QString::fromStdString(CurrentExceptionMessage());
        }
        // Queued to this object: dropped with it if the window is gone by then
        // (the destructor waits for this thread before the object dies).
        QMetaObject::invokeMethod(
            this,
            [this, kind, began, ok, definite, result, done, failed] {
                FBusy[kind] = false;
                if (ok)
                    done(result);
                else
                    failed(result, definite, began);
            },
            Qt::QueuedConnection);
    });
    return true;
}
