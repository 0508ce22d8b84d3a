#include "tests/support/SlowProxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <deque>

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    Clock::time_point Due;
    std::vector<char> Bytes;
};

int ConnectUnix(const QString& path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.toLocal8Bit().constData(), sizeof a.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

} // namespace

SlowProxy::SlowProxy(const QString& serverSocket) : FServerSocket(serverSocket)
{
    FListen = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(FListen, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(FListen, 64) != 0) {
        close(FListen);
        FListen = -1;
        return;
    }
    getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    FAcceptor = std::thread([this] { Accept(); });
}

SlowProxy::~SlowProxy()
{
    FStopping = true;
    if (FListen >= 0)
        shutdown(FListen, SHUT_RDWR);
    if (FAcceptor.joinable())
        FAcceptor.join();
    for (std::thread& t : FConnections)
        t.join();
    if (FListen >= 0)
        close(FListen);
}

QString SlowProxy::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(FPort);
}

void SlowProxy::Accept()
{
    for (;;) {
        pollfd p{FListen, POLLIN, 0};
        if (poll(&p, 1, 50) < 0 || FStopping)
            return;
        if (!(p.revents & POLLIN))
            continue;
        const int client = accept(FListen, nullptr, nullptr);
        if (client < 0)
            return;
        FConnections.emplace_back([this, client] { Pass(client); });
    }
}

// One connection: requests pass at once, replies wait their turn.
void SlowProxy::Pass(int client)
{
    const int server = ConnectUnix(FServerSocket);
    std::deque<Chunk> held;
    bool serverOpen = server >= 0;
    bool clientOpen = true;
    char buf[65536];
    while (clientOpen && !FStopping && (serverOpen || !held.empty())) {
        const auto now = Clock::now();
        while (!held.empty() && !FStalled && held.front().Due <= now) {
            if (!SendAll(client, held.front().Bytes.data(), held.front().Bytes.size()))
                clientOpen = false;
            held.pop_front();
        }
        if (!serverOpen && held.empty())
            break;
        pollfd fds[2] = {{client, POLLIN, 0}, {serverOpen ? server : -1, POLLIN, 0}};
        poll(fds, 2, 5);
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = recv(client, buf, sizeof buf, 0);
            if (n <= 0 || !serverOpen || !SendAll(server, buf, static_cast<size_t>(n)))
                clientOpen = n > 0 && serverOpen;
        }
        if (serverOpen && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = recv(server, buf, sizeof buf, 0);
            if (n <= 0)
                serverOpen = false;
            else
                held.push_back(
                    {Clock::now() + std::chrono::milliseconds(FDelayMs.load()), std::vector<char>(buf, buf + n)});
        }
    }
    if (server >= 0)
        close(server);
    close(client);
}
