#pragma once

// A private cupsd for one test process: started in a temporary folder by the
// cups-harness script, reached through CUPS_SERVER (set in this process's
// environment while it runs), stopped by its PID on destruction, and by the
// harness once this process is gone, however it ended.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class PrivateCupsServer {
public:
    // Starts the server with the "TestCutter" queue (A4) as its default.
    // isValid() tells whether that worked; errorText() says why not.
    PrivateCupsServer();
    ~PrivateCupsServer();
    PrivateCupsServer(const PrivateCupsServer&) = delete;
    PrivateCupsServer& operator=(const PrivateCupsServer&) = delete;

    bool isValid() const { return FValid; }
    QString errorText() const { return FError; }
    QString dir() const { return FDir.path(); }
    QString socketPath() const { return FDir.path() + QStringLiteral("/cups.sock"); }
    // Where the kept copy of every job lands: job-<id>.pdf, or raw-<id>.bin
    // from a raw queue.
    QString jobsDir() const { return FDir.path() + QStringLiteral("/jobs"); }

    // Kept job files, oldest job first.
    QStringList jobFiles() const { return keptFiles(QStringLiteral("job-")); }
    QStringList rawJobFiles() const { return keptFiles(QStringLiteral("raw-")); }
    // Wait until at least n such files exist; false on timeout.
    bool waitForJobFiles(int n, int timeoutMs = 10000) const;
    bool waitForRawJobFiles(int n, int timeoutMs = 10000) const;

    bool addQueue(const QString& name, const QString& paper = QStringLiteral("A4"));
    // A raw queue, as a cutter is usually installed: "Local Raw Printer".
    // Its jobs are kept, or go to uri under the given printer-error-policy.
    bool addRawQueue(const QString& name, const QString& uri = QString(), const QString& errorPolicy = QString());
    bool deleteQueue(const QString& name);
    bool disableQueue(const QString& name);
    bool enableQueue(const QString& name);
    // The queue stays but refuses every new job.
    bool rejectJobs(const QString& name);
    bool cancelAll();
    bool setDefault(const QString& name);
    // Runs a CUPS command-line client against this server; true on exit 0.
    bool run(const QString& program, const QStringList& args, QString* output = nullptr) const;

    void stop();

private:
    bool harness(const QStringList& args, QString* output = nullptr) const;
    QStringList keptFiles(const QString& prefix) const;
    bool waitForKept(const QString& prefix, int n, int timeoutMs) const;

    QTemporaryDir FDir;
    bool FValid = false;
    bool FRunning = false;
    QString FError;
    QByteArray FOldServer;
    bool FHadOldServer = false;
};
