#include "directory/HttpFrontend.h"

#include "directory/DirectoryService.h"

#include <QFile>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace directory {

namespace {
using SteadyClock = std::chrono::steady_clock;

// Our clients send a short GET; nothing legitimate comes near this.
constexpr qsizetype kMaxRequest = 8 * 1024;

const char* const kHtml = "text/html; charset=utf-8";

QByteArray htmlPage(const char* title, const char* body)
{
    return QByteArray("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") + title +
           " - Vantora</title></head>\n<body>\n<h1>" + title + "</h1>\n" + body +
           "\n<p><a href=\"/\">Vantora</a> | <a href=\"/help.html\">Help</a> | <a "
           "href=\"/support.html\">Support</a> | <a href=\"/terms.html\">Terms</a> | <a "
           "href=\"/legal.html\">Legal</a> | <a href=\"/download.html\">Download</a></p>\n</body></html>\n";
}

const char* reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 414:
        return "URI Too Long";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    }
    return "Unknown";
}

QByteArray answerBytes(int status, const QByteArray& type, const QByteArray& body, const QByteArray& location)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) +
                     "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
                     "\r\nConnection: close\r\n";
    if (!location.isEmpty())
        out += "Location: " + location + "\r\n";
    return out + "\r\n" + body;
}

struct Network
{
    quint32 address; // host order
    quint32 mask;
};

bool parseNetwork(const QString& text, Network* out)
{
    const qsizetype slash = text.indexOf(u'/');
    const QByteArray host = (slash < 0 ? text : text.left(slash)).trimmed().toLatin1();
    int bits = 32;
    if (slash >= 0) {
        bool ok = false;
        bits = text.mid(slash + 1).toInt(&ok);
        if (!ok || bits < 0 || bits > 32)
            return false;
    }
    in_addr a{};
    if (::inet_pton(AF_INET, host.constData(), &a) != 1)
        return false;
    out->mask = bits == 0 ? 0 : ~quint32(0) << (32 - bits);
    out->address = ntohl(a.s_addr) & out->mask;
    return true;
}

bool isIPv4(const QByteArray& text)
{
    in_addr a{};
    return ::inet_pton(AF_INET, text.constData(), &a) == 1;
}

void closeQuietly(int fd)
{
    // Read what the client sent beyond the request, so closing does not reset
    // the connection before it has the answer.
    char sink[1024];
    for (int i = 0; i < 8 && ::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
    }
    ::close(fd);
}
} // namespace

struct Connection
{
    int fd = -1;
    quint64 serial = 0;
    QString peer;
    QByteArray in;
    QByteArray out;
    qsizetype sent = 0;
    SteadyClock::time_point deadline;
    bool writing = false;
};

struct HttpFrontend::Impl
{
    DirectoryService& service;
    Options options;
    Logger log;
    std::vector<Network> proxies;

    int listenFd = -1;
    const int epollFd;
    const int wakeFd;
    quint16 port = 0;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};

    // Event thread only.
    std::unordered_map<int, std::unique_ptr<Connection>> connections;
    std::deque<std::pair<SteadyClock::time_point, std::pair<int, quint64>>> deadlines;
    quint64 nextSerial = 1;
    std::atomic<bool> accepting{true};
    SteadyClock::time_point resumeAccepting;
    std::atomic<int> open{0};

    // What the log line of a request says besides its reply.
    struct Request
    {
        SteadyClock::time_point start;
        QByteArray method;
        QString target; // as logged
        QString client; // as logged
    };
    // A whole request as read off its connection.
    struct Incoming
    {
        Request request;
        std::optional<Reply> refusal; // answered as it stands, without looking further
        QString path;
        std::string target;
        size_t query = std::string::npos; // where the query starts in target
        QString client;                   // the member's address
        std::string_view queryText() const
        {
            return query == std::string::npos ? std::string_view() : std::string_view(target).substr(query);
        }
    };

    // Shared with the workers, and with the store's writer thread, which
    // answers relogons once their presence is written.
    struct Job
    {
        std::unique_ptr<Connection> connection; // a request to answer
        Incoming incoming;
        std::function<void()> task; // or work handed over by the service
    };
    std::mutex lock;
    std::condition_variable wake;
    std::deque<Job> jobs;
    // Answers the service still owes (relogons being written).
    std::atomic<int> owed{0};
    std::condition_variable settled;
    std::deque<std::unique_ptr<Connection>> returned; // answers that did not fit the socket at once
    std::vector<std::thread> workers;

    Impl(DirectoryService& s, Options o, Logger l)
        : service(s), options(std::move(o)), log(std::move(l)), epollFd(::epoll_create1(EPOLL_CLOEXEC)),
          wakeFd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
    {
        for (const QString& p : std::as_const(options.trustedProxies)) {
            Network n{};
            if (parseNetwork(p, &n))
                proxies.push_back(n);
        }
    }
    ~Impl()
    {
        for (int fd : {listenFd, epollFd, wakeFd})
            if (fd >= 0)
                ::close(fd);
    }

    std::chrono::milliseconds timeout() const { return std::chrono::milliseconds(options.readTimeoutMs); }
    bool trusted(const QString& address) const;
    QString clientAddress(const QString& peer, const QByteArray& forwardedFor) const;
    void signal()
    {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    void run();
    void acceptAll();
    void setAccepting(bool on);
    enum class Received { Partial, Whole, Closed };
    Received receive(Connection& c);
    void dispatch(std::unique_ptr<Connection> c);
    void onReadable(Connection* c);
    void onWritable(Connection* c);
    void finish(int fd, const QString& logLine = QString());
    void expire();
    void takeReturned();
    void work();
    void post(std::function<void()> task);
    Incoming parse(const Connection& c) const;
    void logon(std::unique_ptr<Connection> c, const Incoming& incoming);
    void answer(std::unique_ptr<Connection> c, const Incoming& incoming);
    // Sends the reply (or hands it to the event thread when it does not fit
    // the socket at once), logs the request and closes.
    void deliver(std::unique_ptr<Connection> c, const Reply& reply, const QByteArray& type,
                 const Request& request);
    // Writes what fits; true when the whole answer left.
    static bool flush(Connection& c);
    void logRequest(const QString& peer, const QByteArray& method, const QString& target, int status,
                    double ms, const QString& note) const;
};

bool HttpFrontend::Impl::trusted(const QString& address) const
{
    if (proxies.empty())
        return false;
    in_addr a{};
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &a) != 1)
        return false;
    const quint32 host = ntohl(a.s_addr);
    return std::any_of(proxies.begin(), proxies.end(),
                       [host](const Network& n) { return (host & n.mask) == n.address; });
}

QString HttpFrontend::checkProxies(const QStringList& proxies)
{
    for (const QString& p : proxies) {
        Network n{};
        if (!parseNetwork(p, &n))
            return QStringLiteral("not an IPv4 address or network: %1").arg(p);
    }
    return {};
}

QString HttpFrontend::clientAddress(const QString& peer, const QByteArray& forwardedFor) const
{
    return d->clientAddress(peer, forwardedFor);
}

QString HttpFrontend::Impl::clientAddress(const QString& peer, const QByteArray& forwardedFor) const
{
    if (!trusted(peer) || forwardedFor.trimmed().isEmpty())
        return peer;
    // Each proxy appends the address it saw: the last one not of our own
    // proxies is the member's.
    const QList<QByteArray> hops = forwardedFor.split(',');
    QString candidate;
    for (auto it = hops.crbegin(); it != hops.crend(); ++it) {
        const QByteArray hop = it->trimmed();
        if (!isIPv4(hop))
            return {};
        candidate = QString::fromLatin1(hop);
        if (!trusted(candidate))
            return candidate;
    }
    return candidate;
}

QByteArray HttpFrontend::page(const QString& path)
{
    if (path == QLatin1String("/") || path == QLatin1String("/index.html"))
        return htmlPage("Vantora",
                        "<p>Vantora is a webcam client for the Linux desktop. It shows your camera, serves "
                        "snapshots from its own small web server, stamps them with your captions and, "
                        "while you are online, tells this community's directory where your camera can "
                        "be found. Members can invite each other to chat.</p>\n"
                        "<p>Reelsmith, the recorder that comes with it, records video (with or without "
                        "sound) from the same camera into an AVI file.</p>");
    if (path == QLatin1String("/help.html"))
        return htmlPage("Help",
                        "<h2>Getting online</h2>\n<p>Create an account with the registration wizard "
                        "(Streaming options, \"Sign up for new account\"), then switch ONLINE in the main "
                        "window. Vantora logs on to this directory every five minutes with the address "
                        "and port of its web server (2156 unless you change it). Other members must be "
                        "able to reach that port: forward it on your router if you have one.</p>\n"
                        "<h2>Chat</h2>\n<p>Use \"Invite someone for chat\" and type the member's user "
                        "name. The invited member is asked to accept; the talk then runs directly "
                        "between the two programs.</p>\n"
                        "<h2>Recording</h2>\n<p>Reelsmith records from the camera. Vantora closes while "
                        "it records, because both need the device, and starts again when Reelsmith "
                        "closes.</p>");
    if (path == QLatin1String("/support.html"))
        return htmlPage("Support",
                        "<p>This directory is run by a community operator. For a lost account or a "
                        "problem with the service, write to the operator of this community. Problems "
                        "with the program itself belong with the Vantora project.</p>\n"
                        "<p>When you write, say which version you run (Help, About) and what the status "
                        "line of the main window shows.</p>");
    if (path == QLatin1String("/terms.html"))
        return htmlPage("Terms and Conditions",
                        "<ol>\n<li>Your account is personal. Keep your password to yourself.</li>\n"
                        "<li>While you are online, your public address and port are given to the "
                        "directory so that members can reach your camera.</li>\n"
                        "<li>Mark your camera as adults only when it can show such material.</li>\n"
                        "<li>Do not use the service to harass other members. The operator may remove "
                        "accounts that do.</li>\n"
                        "<li>Your e-mail address is used for support only and is never shown to other "
                        "members.</li>\n</ol>");
    if (path == QLatin1String("/legal.html"))
        return htmlPage("Legal",
                        "<p>The directory stores your member name, your full name, your e-mail address, "
                        "the adult flag, a salted Argon2id hash of your password (never the password), "
                        "and while you are online the public address and port of your camera and the "
                        "time of your last logon.</p>\n<p>The software is provided as is, without "
                        "warranty of any kind.</p>");
    if (path == QLatin1String("/download.html"))
        return htmlPage("Download",
                        "<p>Vantora runs on Linux desktops (Debian 12 and similar). Build it from source "
                        "with CMake; see the README for the packages it needs.</p>\n"
                        "<p>The program checks for a newer version once a run and brings you to this page "
                        "when there is one.</p>");
    return {};
}

QString HttpFrontend::loggableTarget(const std::string& target)
{
    const size_t q = target.find('?');
    std::string out = target.substr(0, q);
    if (q != std::string::npos) {
        out += '?';
        std::string_view query(target);
        query.remove_prefix(q + 1);
        bool first = true;
        size_t start = 0;
        while (start <= query.size()) {
            size_t end = query.find('&', start);
            if (end == std::string_view::npos)
                end = query.size();
            const std::string_view pair = query.substr(start, end - start);
            if (!first)
                out += '&';
            first = false;
            const size_t eq = pair.find('=');
            const QByteArray key =
                eq == std::string_view::npos ? QByteArray() : percentDecode(pair.substr(0, eq));
            if (key == "p" || key == "e" || key == "n")
                out += std::string(pair.substr(0, eq + 1)) + '*';
            else
                out += pair;
            start = end + 1;
        }
    }
    QString text;
    for (unsigned char c : out) {
        if (c <= 0x20 || c >= 0x7f)
            text += QStringLiteral("%%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        else
            text += QLatin1Char(char(c));
        if (text.size() > 400) {
            text += QLatin1String("...");
            break;
        }
    }
    return text;
}

HttpFrontend::HttpFrontend(DirectoryService& service, Options options, Logger log)
    : d(std::make_unique<Impl>(service, std::move(options), std::move(log)))
{
    d->options.threads = std::clamp(d->options.threads, 1, 256);
    d->options.readTimeoutMs = std::max(1, d->options.readTimeoutMs);
    d->options.maxConnections = std::max(1, d->options.maxConnections);
}

HttpFrontend::~HttpFrontend() { stop(); }

bool HttpFrontend::bind(const QString& address, quint16 port, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (address.contains(u':'))
        return fail(QStringLiteral("cannot listen on [%1]:%2: IPv6 addresses are not supported (members are "
                                   "told their address as IPv4 address:port); listen on an IPv4 address, "
                                   "for example 0.0.0.0")
                        .arg(address)
                        .arg(port));
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &at.sin_addr) != 1)
        return fail(QStringLiteral("cannot listen on %1:%2: not an IPv4 address").arg(address).arg(port));
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(
            QStringLiteral("cannot make a socket: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        ::listen(fd, std::max(511, d->options.backlog)) != 0) {
        const QString why = QString::fromLocal8Bit(std::strerror(errno));
        ::close(fd);
        return fail(QStringLiteral("cannot listen on %1:%2: %3").arg(address).arg(port).arg(why));
    }
    socklen_t len = sizeof at;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&at), &len);
    if (d->listenFd >= 0)
        ::close(d->listenFd);
    d->listenFd = fd;
    d->port = ntohs(at.sin_port);
    return true;
}

quint16 HttpFrontend::port() const { return d->port; }

bool HttpFrontend::isRunning() const { return d->running.load(); }

void HttpFrontend::stop()
{
    d->stopping = true;
    d->signal();
}

void HttpFrontend::serve()
{
    if (d->listenFd < 0 || d->epollFd < 0 || d->wakeFd < 0 || d->stopping)
        return;
    d->run();
}

void HttpFrontend::Impl::run()
{
    // Each connection holds a descriptor: allow as many as the hard limit.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = wakeFd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, wakeFd, &ev);
    ev.data.fd = listenFd;
    ::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &ev);
    accepting = true;
    for (int i = 0; i < options.threads; ++i)
        workers.emplace_back([this] { work(); });
    running = true;

    std::vector<epoll_event> events(256);
    while (!stopping) {
        int waitMs = -1;
        const auto now = SteadyClock::now();
        auto next = deadlines.empty() ? SteadyClock::time_point::max() : deadlines.front().first;
        // Paused: look again at the latest by then, whatever wakes us first.
        if (!accepting)
            next = std::min(next, resumeAccepting);
        if (next != SteadyClock::time_point::max())
            waitMs = int(std::clamp<qint64>(
                std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1, 0, 60000));
        const int n = ::epoll_wait(epollFd, events.data(), int(events.size()), waitMs);
        if (n < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            const int fd = events[size_t(i)].data.fd;
            if (fd == wakeFd) {
                quint64 count = 0;
                [[maybe_unused]] const ssize_t r = ::read(wakeFd, &count, sizeof count);
                takeReturned();
            } else if (fd == listenFd) {
                acceptAll();
            } else {
                const auto it = connections.find(fd);
                if (it == connections.end())
                    continue;
                if (it->second->writing)
                    onWritable(it->second.get());
                else
                    onReadable(it->second.get());
            }
        }
        expire();
        if (!accepting && SteadyClock::now() >= resumeAccepting)
            setAccepting(true); // acceptAll() pauses again if still full
    }

    {
        std::lock_guard guard(lock);
        stopping = true;
    }
    wake.notify_all();
    for (auto& t : workers)
        t.join();
    workers.clear();
    // Requests not begun are dropped; answers owed are waited for, running
    // what the service hands over, since no worker is left to.
    for (;;) {
        std::deque<Job> left;
        {
            std::unique_lock guard(lock);
            settled.wait(guard, [this] { return owed.load() == 0 || !jobs.empty(); });
            if (jobs.empty())
                break;
            left.swap(jobs);
        }
        for (Job& job : left) {
            if (job.task) {
                job.task();
            } else {
                ::close(job.connection->fd);
                --open;
            }
        }
    }
    takeReturned();
    for (auto& [fd, c] : connections)
        ::close(fd);
    connections.clear();
    deadlines.clear();
    running = false;
}

void HttpFrontend::Impl::setAccepting(bool on)
{
    epoll_event ev{};
    ev.events = on ? quint32(EPOLLIN) : 0u;
    ev.data.fd = listenFd;
    ::epoll_ctl(epollFd, EPOLL_CTL_MOD, listenFd, &ev);
    accepting = on;
}

void HttpFrontend::Impl::acceptAll()
{
    while (accepting) {
        if (open.load() >= options.maxConnections) {
            // Full: the backlog holds newcomers until a connection ends.
            setAccepting(false);
            resumeAccepting = SteadyClock::now() + std::chrono::milliseconds(100);
            return;
        }
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const int fd =
            ::accept4(listenFd, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // Out of descriptors: wait for a connection to end (or a
                // moment, when none is open) instead of spinning.
                setAccepting(false);
                resumeAccepting = SteadyClock::now() + std::chrono::milliseconds(100);
            }
            return;
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        c->serial = nextSerial++;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        c->peer = QString::fromLatin1(text);
        ++open;
        // Clients send their request with the connection: often it is all
        // there already, and goes to a worker without a turn through epoll.
        switch (receive(*c)) {
        case Received::Whole:
            dispatch(std::move(c));
            continue;
        case Received::Closed:
            ::close(fd);
            --open;
            continue;
        case Received::Partial:
            break;
        }
        c->deadline = SteadyClock::now() + timeout();
        deadlines.push_back({c->deadline, {fd, c->serial}});
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.fd = fd;
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev);
        connections.emplace(fd, std::move(c));
    }
}

HttpFrontend::Impl::Received HttpFrontend::Impl::receive(Connection& c)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            c.in.append(buffer, n);
            if (c.in.size() > kMaxRequest || c.in.contains("\r\n\r\n"))
                return Received::Whole; // or too large: a worker answers that too
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Received::Partial;
        return Received::Closed; // before a whole request arrived
    }
}

void HttpFrontend::Impl::dispatch(std::unique_ptr<Connection> c)
{
    Incoming incoming = parse(*c);
    // A logon goes to the service from here: a relogon's check is a keyed
    // hash and its write is queued for the store's writer, so nothing blocks,
    // and the hop through a worker would cost more than the check. The
    // service hands a full check (Argon2id) to a worker itself.
    if (!incoming.refusal && incoming.path == QLatin1String("/client_v3/logon.php")) {
        logon(std::move(c), incoming);
        return;
    }
    {
        std::lock_guard guard(lock);
        jobs.push_back({std::move(c), std::move(incoming), {}});
    }
    wake.notify_one();
}

void HttpFrontend::Impl::post(std::function<void()> task)
{
    {
        std::lock_guard guard(lock);
        jobs.push_back({nullptr, {}, std::move(task)});
    }
    wake.notify_one();
    settled.notify_all();
}

void HttpFrontend::Impl::finish(int fd, const QString& logLine)
{
    const auto it = connections.find(fd);
    if (it == connections.end())
        return;
    if (!logLine.isEmpty() && log)
        log(logLine);
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    closeQuietly(fd);
    connections.erase(it);
    --open;
}

void HttpFrontend::Impl::onReadable(Connection* c)
{
    switch (receive(*c)) {
    case Received::Partial:
        return;
    case Received::Closed:
        finish(c->fd);
        return;
    case Received::Whole:
        break;
    }
    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, c->fd, nullptr);
    auto it = connections.find(c->fd);
    std::unique_ptr<Connection> owned = std::move(it->second);
    connections.erase(it);
    dispatch(std::move(owned));
}

void HttpFrontend::Impl::onWritable(Connection* c)
{
    if (flush(*c))
        finish(c->fd);
}

void HttpFrontend::Impl::expire()
{
    const auto now = SteadyClock::now();
    while (!deadlines.empty() && deadlines.front().first <= now) {
        const auto [fd, serial] = deadlines.front().second;
        deadlines.pop_front();
        const auto it = connections.find(fd);
        if (it == connections.end() || it->second->serial != serial)
            continue; // answered, or the descriptor belongs to a newer connection
        Connection& c = *it->second;
        if (c.deadline > now)
            continue;
        QString line;
        if (!c.writing)
            line = c.peer + QLatin1String(" - - 408 - timed out after ") + QString::number(c.in.size()) +
                   QLatin1String(" bytes of request");
        else
            line = c.peer + QLatin1String(" - answer not taken within the time-out, closed");
        finish(fd, line);
    }
}

void HttpFrontend::Impl::takeReturned()
{
    std::deque<std::unique_ptr<Connection>> back;
    {
        std::lock_guard guard(lock);
        back.swap(returned);
    }
    for (auto& c : back) {
        if (stopping) {
            ::close(c->fd);
            --open;
            continue;
        }
        c->writing = true;
        c->deadline = SteadyClock::now() + timeout();
        deadlines.push_back({c->deadline, {c->fd, c->serial}});
        epoll_event ev{};
        ev.events = EPOLLOUT;
        ev.data.fd = c->fd;
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, c->fd, &ev);
        const int fd = c->fd;
        connections.emplace(fd, std::move(c));
    }
    // A connection ended on a worker: room to accept again.
    if (!accepting && open.load() < options.maxConnections)
        setAccepting(true);
}

bool HttpFrontend::Impl::flush(Connection& c)
{
    while (c.sent < c.out.size()) {
        const ssize_t n =
            ::send(c.fd, c.out.constData() + c.sent, size_t(c.out.size() - c.sent), MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return false;
        } else {
            c.sent = c.out.size(); // the peer went away; nothing more to send
        }
    }
    return true;
}

void HttpFrontend::Impl::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock);
            wake.wait(guard, [this] { return stopping || !jobs.empty(); });
            if (stopping)
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        if (job.task)
            job.task();
        else
            answer(std::move(job.connection), job.incoming);
    }
}

void HttpFrontend::Impl::deliver(std::unique_ptr<Connection> c, const Reply& reply, const QByteArray& type,
                                 const Request& request)
{
    c->out = answerBytes(reply.status, type, reply.body, reply.location);
    const double ms =
        request.start == SteadyClock::time_point()
            ? -1
            : std::chrono::duration<double, std::milli>(SteadyClock::now() - request.start).count();
    logRequest(request.client, request.method, request.target, reply.status, ms, reply.note);
    if (flush(*c)) {
        closeQuietly(c->fd);
        --open;
        if (!accepting)
            signal(); // room again: the event thread may accept
    } else {
        {
            std::lock_guard guard(lock);
            returned.push_back(std::move(c));
        }
        signal();
    }
}

void HttpFrontend::Impl::logRequest(const QString& peer, const QByteArray& method, const QString& target,
                                    int status, double ms, const QString& note) const
{
    if (!log)
        return;
    // Put together piece by piece: the target is data, never a template.
    QString line = peer;
    line += u' ';
    line += method.isEmpty() ? QStringLiteral("-") : QString::fromLatin1(method);
    line += u' ';
    line += target.isEmpty() ? QStringLiteral("-") : target;
    line += u' ';
    line += QString::number(status);
    line += u' ';
    line += ms < 0 ? QStringLiteral("-") : QString::number(ms, 'f', 2);
    line += QLatin1String(" ms");
    if (!note.isEmpty()) {
        line += QLatin1String(" - ");
        line += note;
    }
    log(line);
}

HttpFrontend::Impl::Incoming HttpFrontend::Impl::parse(const Connection& c) const
{
    Incoming in;
    const auto refuse = [&](int status, const QByteArray& method, const QString& target,
                            const QString& note) {
        in.request = Request{{}, method, target, c.peer};
        in.refusal = Reply{status, QByteArray::number(status), {}, note};
        return in;
    };
    const auto start = SteadyClock::now();
    const qsizetype end = c.in.indexOf("\r\n\r\n");
    const qsizetype lineEnd = c.in.indexOf("\r\n");
    if (end < 0) {
        const bool longLine = lineEnd < 0;
        return refuse(longLine ? 414 : 431, {}, {},
                      longLine ? QStringLiteral("request line too long")
                               : QStringLiteral("request header too large"));
    }
    // "METHOD target HTTP/1.x"; blanks inside the target are taken as part of
    // it, since older clients put values in unescaped.
    const QByteArray requestLine = c.in.left(lineEnd);
    const qsizetype firstBlank = requestLine.indexOf(' ');
    const qsizetype lastBlank = requestLine.lastIndexOf(' ');
    const QByteArray method = firstBlank > 0 ? requestLine.left(firstBlank) : QByteArray();
    const QByteArray version = lastBlank > firstBlank ? requestLine.mid(lastBlank + 1) : QByteArray();
    in.target = lastBlank > firstBlank
                    ? requestLine.mid(firstBlank + 1, lastBlank - firstBlank - 1).toStdString()
                    : std::string();
    if (method.isEmpty() || !version.startsWith("HTTP/1.") || in.target.empty() || in.target[0] != '/')
        return refuse(400, {}, loggableTarget(requestLine.toStdString()),
                      QStringLiteral("malformed request"));
    const QString logged = loggableTarget(in.target);
    if (method != "GET")
        return refuse(405, method.left(16), logged, {});
    QByteArray forwardedFor;
    for (const QByteArray& header : c.in.mid(lineEnd + 2, end - lineEnd - 2).split('\n')) {
        const qsizetype colon = header.indexOf(':');
        if (colon > 0 && header.left(colon).trimmed().compare("X-Forwarded-For", Qt::CaseInsensitive) == 0)
            forwardedFor += (forwardedFor.isEmpty() ? "" : ",") + header.mid(colon + 1).trimmed();
    }

    const size_t q = in.target.find('?');
    in.query = q == std::string::npos ? q : q + 1;
    in.path = QString::fromUtf8(percentDecode(std::string_view(in.target).substr(0, q)));
    in.client = clientAddress(c.peer, forwardedFor);
    const QString shownClient =
        in.client == c.peer || in.client.isEmpty() ? c.peer : in.client + QLatin1String(" via ") + c.peer;
    in.request = Request{start, method, logged, shownClient};
    if (in.client.isEmpty())
        in.refusal = Reply{
            400, "BAD", {}, QStringLiteral("X-Forwarded-For from a trusted proxy is not an IPv4 address")};
    return in;
}

void HttpFrontend::Impl::logon(std::unique_ptr<Connection> owned, const Incoming& incoming)
{
    // Answered once the presence is written, from the store's writer thread.
    ++owed;
    Connection* waiting = owned.release();
    service.logon(
        Params::fromQuery(incoming.queryText()), incoming.client,
        [this, waiting, request = incoming.request](const Reply& reply) {
            deliver(std::unique_ptr<Connection>(waiting), reply, "text/plain", request);
            // Under the lock: once the count reads zero, nothing here
            // touches the front again (it may be gone).
            std::lock_guard guard(lock);
            if (--owed == 0 && stopping)
                settled.notify_all();
        },
        [this](std::function<void()> task) { post(std::move(task)); });
}

void HttpFrontend::Impl::answer(std::unique_ptr<Connection> owned, const Incoming& incoming)
{
    if (incoming.refusal) {
        deliver(std::move(owned), *incoming.refusal, "text/plain", incoming.request);
        return;
    }
    const QString& path = incoming.path;
    const std::string_view query = incoming.queryText();
    const QString& client = incoming.client;
    QByteArray type = "text/plain";
    // Short and not an address: a client reading the logon answer must not
    // take it for one.
    Reply reply{404, "404", {}, {}};
    // Logons never come here: dispatch() hands them to the service itself.
    if (path == QLatin1String("/client_v3/logoff.php")) {
        reply = service.logoff(Params::fromQuery(query), client);
    } else if (path == QLatin1String("/client_v3/register.php")) {
        reply = service.registerMember(Params::fromQuery(query), client);
    } else if (path == QLatin1String("/client_v3/askchat.php")) {
        reply = service.askChat(Params::fromQuery(query), client);
    } else if (path == QLatin1String("/autoupdate/autoupdate.txt")) {
        QFile file(options.updateFile);
        if (!options.updateFile.isEmpty() && file.open(QIODevice::ReadOnly))
            reply = {200, file.readAll(), {}, {}};
        else if (!options.updateFile.isEmpty())
            reply.note = QStringLiteral("update file %1 cannot be read: %2")
                             .arg(options.updateFile, file.errorString());
    } else {
        const QByteArray html = HttpFrontend::page(path);
        if (!html.isEmpty()) {
            reply = {200, html, {}, {}};
            type = kHtml;
        }
    }
    deliver(std::move(owned), reply, type, incoming.request);
}

} // namespace directory
