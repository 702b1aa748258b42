#include "ChatDelivery.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace directory {

namespace {
using SteadyClock = std::chrono::steady_clock;

int remainingMs(SteadyClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// Waits for the socket to become ready for `events`; false on time-out.
bool waitFor(int fd, short events, SteadyClock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, remainingMs(deadline));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

struct Fd
{
    int fd;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

ChatDelivery::ChatDelivery(Options options, Reporter report) : m_options(options), m_report(std::move(report))
{
    for (int i = 0; i < std::max(1, m_options.workers); ++i)
        m_threads.emplace_back([this] { run(); });
}

ChatDelivery::~ChatDelivery()
{
    {
        std::lock_guard lock(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (auto& t : m_threads)
        t.join();
}

QByteArray ChatDelivery::requestBytes(const QString& address, int port, const QByteArray& senderDescriptor)
{
    return "GET /CHATREQUEST" + senderDescriptor + " HTTP/1.1\r\nHost: " + address.toLatin1() + ':' +
           QByteArray::number(port) + "\r\n\r\n";
}

bool ChatDelivery::enqueue(const QString& address, int port, const QByteArray& request)
{
    {
        std::lock_guard lock(m_lock);
        if (m_stopping || int(m_queue.size()) >= m_options.capacity)
            return false;
        m_queue.push_back({address, port, request});
    }
    m_wake.notify_one();
    return true;
}

void ChatDelivery::drain()
{
    std::unique_lock lock(m_lock);
    m_idle.wait(lock, [this] { return m_queue.empty() && m_busy == 0; });
}

void ChatDelivery::run()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                return; // stopping
            job = std::move(m_queue.front());
            m_queue.pop_front();
            ++m_busy;
        }
        const QString outcome = deliver(job);
        if (m_report)
            m_report(QStringLiteral("chat request to %1:%2 %3").arg(job.address).arg(job.port).arg(outcome));
        {
            std::lock_guard lock(m_lock);
            --m_busy;
        }
        m_idle.notify_all();
    }
}

QString ChatDelivery::deliver(const Job& job) const
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(quint16(job.port));
    if (job.port <= 0 || job.port > 65535 ||
        ::inet_pton(AF_INET, job.address.toLatin1().constData(), &to.sin_addr) != 1)
        return QStringLiteral("skipped: not an IPv4 address and port");

    Fd s{::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0)};
    if (s.fd < 0)
        return QStringLiteral("failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));

    const auto connectDeadline = SteadyClock::now() + std::chrono::milliseconds(m_options.connectTimeoutMs);
    if (::connect(s.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        if (errno != EINPROGRESS)
            return QStringLiteral("failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        if (!waitFor(s.fd, POLLOUT, connectDeadline))
            return QStringLiteral("failed: connect timed out");
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0)
            return QStringLiteral("failed: %1").arg(QString::fromLocal8Bit(std::strerror(err)));
    }

    const auto replyDeadline = SteadyClock::now() + std::chrono::milliseconds(m_options.replyTimeoutMs);
    qsizetype sent = 0;
    while (sent < job.request.size()) {
        const ssize_t n =
            ::send(s.fd, job.request.constData() + sent, size_t(job.request.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            if (!waitFor(s.fd, POLLOUT, replyDeadline))
                return QStringLiteral("failed: send timed out");
        } else {
            return QStringLiteral("failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        }
    }

    // The member answers with a small page and may keep the connection open;
    // read what comes until it closes or the time is up, and throw it away.
    char buffer[4096];
    qint64 received = 0;
    auto deadline = replyDeadline;
    for (;;) {
        if (!waitFor(s.fd, POLLIN, deadline))
            return QStringLiteral("delivered (%1 bytes of answer, no close)").arg(received);
        const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            // Once the answer has begun, a short grace for the rest is enough.
            if (received == 0)
                deadline = std::min(replyDeadline, SteadyClock::now() + std::chrono::milliseconds(300));
            received += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return QStringLiteral("delivered (%1 bytes of answer)").arg(received);
    }
}

} // namespace directory
