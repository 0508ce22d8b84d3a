#pragma once

// A print server that answers slowly, or not at all for a while: a loopback
// TCP port that passes every connection on to a real server's Unix socket,
// holding back the server's replies by a set delay, or entirely while
// stalled. Point CUPS_SERVER at address() to use it.

#include <QString>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

class SlowProxy {
public:
    explicit SlowProxy(const QString& serverSocket);
    ~SlowProxy();
    SlowProxy(const SlowProxy&) = delete;
    SlowProxy& operator=(const SlowProxy&) = delete;

    bool isValid() const { return FListen >= 0; }
    QString address() const; // "127.0.0.1:<port>"

    // Each reply reaches the client this long after the server sent it.
    void setReplyDelayMs(int ms) { FDelayMs = ms; }
    // While stalled, replies are held (requests still pass); they all go out
    // once the stall ends.
    void setStalled(bool stalled) { FStalled = stalled; }

private:
    void Accept();
    void Pass(int client);

    QString FServerSocket;
    int FListen = -1;
    int FPort = 0;
    std::atomic<int> FDelayMs{0};
    std::atomic<bool> FStalled{false};
    std::atomic<bool> FStopping{false};
    std::thread FAcceptor;
    std::vector<std::thread> FConnections;
};
