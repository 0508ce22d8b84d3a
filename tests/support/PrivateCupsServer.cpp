#include "tests/support/PrivateCupsServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <algorithm>

PrivateCupsServer::PrivateCupsServer() : FDir(QDir::tempPath() + QStringLiteral("/vcups-XXXXXX"))
{
    FHadOldServer = qEnvironmentVariableIsSet("CUPS_SERVER");
    FOldServer = qgetenv("CUPS_SERVER");
    if (!FDir.isValid()) {
        FError = QStringLiteral("cannot create a temporary folder");
        return;
    }
    QString out;
    FRunning = true; // the script may have started cupsd even if it later fails
    // Tied to this process: a test killed at its time limit takes its server along.
    if (!harness({QStringLiteral("start"), FDir.path(), QString::number(QCoreApplication::applicationPid())}, &out)) {
        FError = QStringLiteral("cups-harness start failed: ") + out;
        stop();
        return;
    }
    qputenv("CUPS_SERVER", socketPath().toLocal8Bit());
    FValid = true;
}

PrivateCupsServer::~PrivateCupsServer()
{
    stop();
}

void PrivateCupsServer::stop()
{
    if (FRunning) {
        harness({QStringLiteral("stop"), FDir.path()});
        FRunning = false;
    }
    if (FValid) {
        if (FHadOldServer)
            qputenv("CUPS_SERVER", FOldServer);
        else
            qunsetenv("CUPS_SERVER");
        FValid = false;
    }
}

bool PrivateCupsServer::harness(const QStringList& args, QString* output) const
{
    return run(QStringLiteral(VELLICO_CUPS_HARNESS), args, output);
}

bool PrivateCupsServer::run(const QString& program, const QStringList& args, QString* output) const
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("CUPS_SERVER"), socketPath());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QStringList PrivateCupsServer::keptFiles(const QString& prefix) const
{
    QDir d(jobsDir());
    QStringList names = d.entryList({prefix + u'*'}, QDir::Files);
    // By job id: "job-10" comes after "job-9".
    const auto id = [&](const QString& n) { return n.mid(prefix.size()).section(u'.', 0, 0).toInt(); };
    std::sort(names.begin(), names.end(), [&](const QString& a, const QString& b) { return id(a) < id(b); });
    for (QString& n : names)
        n = d.filePath(n);
    return names;
}

bool PrivateCupsServer::waitForKept(const QString& prefix, int n, int timeoutMs) const
{
    QElapsedTimer t;
    t.start();
    while (keptFiles(prefix).size() < n) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(10);
    }
    return true;
}

bool PrivateCupsServer::waitForJobFiles(int n, int timeoutMs) const
{
    return waitForKept(QStringLiteral("job-"), n, timeoutMs);
}

bool PrivateCupsServer::waitForRawJobFiles(int n, int timeoutMs) const
{
    return waitForKept(QStringLiteral("raw-"), n, timeoutMs);
}

bool PrivateCupsServer::addQueue(const QString& name, const QString& paper)
{
    return harness({QStringLiteral("add-queue"), FDir.path(), name, paper});
}

bool PrivateCupsServer::addRawQueue(const QString& name, const QString& uri, const QString& errorPolicy)
{
    QStringList args{QStringLiteral("add-raw-queue"), FDir.path(), name};
    if (!uri.isEmpty())
        args << uri << errorPolicy;
    return harness(args);
}

bool PrivateCupsServer::deleteQueue(const QString& name)
{
    return run(QStringLiteral("lpadmin"), {QStringLiteral("-x"), name});
}

bool PrivateCupsServer::disableQueue(const QString& name)
{
    return run(QStringLiteral("cupsdisable"), {name});
}

bool PrivateCupsServer::enableQueue(const QString& name)
{
    return run(QStringLiteral("cupsenable"), {name});
}

bool PrivateCupsServer::rejectJobs(const QString& name)
{
    return run(QStringLiteral("cupsreject"), {name});
}

bool PrivateCupsServer::cancelAll()
{
    return run(QStringLiteral("cancel"), {QStringLiteral("-a")});
}

bool PrivateCupsServer::setDefault(const QString& name)
{
    return run(QStringLiteral("lpadmin"), {QStringLiteral("-d"), name});
}
