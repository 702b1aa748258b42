// Logons against the real vantora-directory on loopback, each figure beside a
// bare cpp-httplib server answering a fixed word with the same worker count
// (the ceiling the HTTP layer allows on this machine), in one run:
//  - first logons (each pays Argon2id) and relogons (the session proof) of
//    1000 members from 16 concurrent clients, with p50/p99 latency;
//  - a burst of 500 simultaneous first connects of relogons;
//  - 16 clients relogging on while 100 slow clients hold half a header each;
//  - relogons on SQLite, on PostgreSQL, and with two instances sharing one
//    PostgreSQL database (a throw-away cluster under the build folder).
// Throughput is compared with the two taking turns a second at a time.

#include "directory/MemberStore.h"
#include "directory/Passwords.h"
#include "tests/support/PostgresCluster.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

using namespace directory;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kMembers = 1000;
constexpr int kClients = 16;
constexpr int kSeconds = 10;
constexpr int kShortSeconds = 5;
constexpr int kBurst = 500;
constexpr int kSlowClients = 100;

QByteArray memberName(int i) { return "member" + QByteArray::number(i) + ".vantora.example"; }
QByteArray memberPassword(int i) { return "pw-" + QByteArray::number(i * 7919); }
// Requests to this port ask for a path the service answers without its
// database (the HTTP front alone, to tell its cost from the store's); to any
// other, logons.
std::atomic<quint16> frontPort{0};

QByteArray logonRequest(quint16 port, int member)
{
    const QByteArray target = port == frontPort ? QByteArray("/client_v3/nothing.php")
                                                : "/client_v3/logon.php?u=" + memberName(member) +
                                                      "&p=" + memberPassword(member) + "&i=192.168.0.10:2156";
    return "GET " + target + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Vantora Client\r\nHost: 127.0.0.1:" +
           QByteArray::number(port) + "\r\n\r\n";
}
bool isAddressAnswer(quint16 port, const QByteArray& answer)
{
    return answer.endsWith(port == frontPort ? QByteArray("\r\n\r\n404")
                                             : QByteArray("\r\n\r\n127.0.0.1:2156"));
}

sockaddr_in loopback(quint16 port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return to;
}

// One client request as the program sends it; true when the answer is an address.
bool logonOnce(quint16 port, int member, double* ms)
{
    const auto start = SteadyClock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in to = loopback(port);
    bool ok = false;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        const QByteArray req = logonRequest(port, member);
        if (::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL) == req.size()) {
            QByteArray answer;
            char buf[1024];
            ssize_t n;
            while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
                answer.append(buf, n);
            ok = isAddressAnswer(port, answer);
        }
    }
    if (fd >= 0)
        ::close(fd);
    *ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    return ok;
}

struct Result
{
    qint64 done = 0;
    qint64 failed = 0;
    double seconds = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    double perSecond() const { return seconds > 0 ? done / seconds : 0; }
};

Result summarise(std::vector<double> all, qint64 failed, double seconds)
{
    std::sort(all.begin(), all.end());
    Result r;
    r.seconds = seconds;
    r.done = qint64(all.size());
    r.failed = failed;
    if (!all.empty()) {
        r.p50 = all[all.size() / 2];
        r.p99 = all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
        r.max = all.back();
    }
    return r;
}

struct Sample
{
    std::vector<double> latencies;
    qint64 failed = 0;
    double seconds = 0;
    void add(const Sample& other)
    {
        latencies.insert(latencies.end(), other.latencies.begin(), other.latencies.end());
        failed += other.failed;
        seconds += other.seconds;
    }
    Result result() const { return summarise(latencies, failed, seconds); }
};

// Each client walks its share of the members; `once` runs each member one time,
// otherwise the clients go round until the time is up. Client c talks to
// ports[c % ports.size()].
Sample sample(const std::vector<quint16>& ports, bool once, std::chrono::milliseconds duration)
{
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<qint64> failed{0};
    const auto start = SteadyClock::now();
    const auto end = start + duration;
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            const quint16 port = ports[size_t(c) % ports.size()];
            for (int round = 0;; ++round) {
                for (int m = c; m < kMembers; m += kClients) {
                    if (!once && SteadyClock::now() >= end)
                        return;
                    double ms = 0;
                    if (logonOnce(port, m, &ms))
                        latencies[size_t(c)].push_back(ms);
                    else
                        ++failed;
                }
                if (once)
                    return;
            }
        });
    }
    for (auto& t : clients)
        t.join();
    Sample s;
    for (auto& l : latencies)
        s.latencies.insert(s.latencies.end(), l.begin(), l.end());
    s.failed = failed;
    s.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    return s;
}

Result load(const std::vector<quint16>& ports, bool once, int seconds)
{
    return sample(ports, once, std::chrono::seconds(seconds)).result();
}

// Ours and the reference take turns, a second each, the one going first
// alternating: load from others on this shared machine then falls on both
// alike instead of on whichever ran while it lasted.
std::pair<Result, Result> sideBySide(const std::vector<quint16>& ours, quint16 reference, int seconds)
{
    Sample a, b;
    for (int turn = 0; turn < seconds; ++turn) {
        for (const bool mine : {turn % 2 == 0, turn % 2 != 0}) {
            const Sample s =
                sample(mine ? ours : std::vector<quint16>{reference}, false, std::chrono::seconds(1));
            (mine ? a : b).add(s);
        }
    }
    return {a.result(), b.result()};
}

// kBurst connections opened at once from one thread; each one's time runs
// from its connect() to the end of its answer.
Result burst(quint16 port)
{
    struct Client
    {
        int fd = -1;
        int member = 0;
        SteadyClock::time_point start;
        QByteArray request;
        qsizetype sent = 0;
        QByteArray answer;
    };
    std::vector<Client> clients(kBurst);
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    const sockaddr_in to = loopback(port);
    const auto begin = SteadyClock::now();
    for (int i = 0; i < kBurst; ++i) {
        Client& c = clients[size_t(i)];
        c.member = (i * 7) % kMembers;
        c.request = logonRequest(port, c.member);
        c.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        c.start = SteadyClock::now();
        ::connect(c.fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.u32 = quint32(i);
        ::epoll_ctl(ep, EPOLL_CTL_ADD, c.fd, &ev);
    }
    std::vector<double> latencies;
    qint64 failed = 0;
    int open = kBurst;
    std::vector<epoll_event> events(256);
    while (open > 0) {
        const int n = ::epoll_wait(ep, events.data(), int(events.size()), 30000);
        if (n <= 0)
            break;
        for (int k = 0; k < n; ++k) {
            Client& c = clients[events[size_t(k)].data.u32];
            if (c.fd < 0)
                continue;
            bool done = false;
            if (c.sent < c.request.size() && (events[size_t(k)].events & EPOLLOUT)) {
                const ssize_t s = ::send(c.fd, c.request.constData() + c.sent,
                                         size_t(c.request.size() - c.sent), MSG_NOSIGNAL);
                if (s > 0)
                    c.sent += s;
                else if (errno != EAGAIN)
                    done = true;
                if (c.sent == c.request.size()) {
                    epoll_event ev{};
                    ev.events = EPOLLIN;
                    ev.data.u32 = events[size_t(k)].data.u32;
                    ::epoll_ctl(ep, EPOLL_CTL_MOD, c.fd, &ev);
                }
            }
            if (events[size_t(k)].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
                char buf[1024];
                for (;;) {
                    const ssize_t r = ::recv(c.fd, buf, sizeof buf, 0);
                    if (r > 0) {
                        c.answer.append(buf, r);
                        continue;
                    }
                    if (r == 0 || errno != EAGAIN)
                        done = true;
                    break;
                }
            }
            if (done) {
                if (isAddressAnswer(port, c.answer))
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(SteadyClock::now() - c.start).count());
                else
                    ++failed;
                ::close(c.fd);
                c.fd = -1;
                --open;
            }
        }
    }
    for (Client& c : clients)
        if (c.fd >= 0) {
            ::close(c.fd);
            ++failed;
        }
    ::close(ep);
    return summarise(std::move(latencies), failed,
                     std::chrono::duration<double>(SteadyClock::now() - begin).count());
}

// kSlowClients connections that each send half a header and then nothing;
// when the server drops one, another takes its place.
class SlowClients
{
public:
    explicit SlowClients(quint16 port) : m_port(port), m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    {
        // All of them hold their half header before the measured clients start.
        m_fds.assign(kSlowClients, -1);
        for (int i = 0; i < kSlowClients; ++i)
            m_fds[size_t(i)] = openOne(i);
        m_thread = std::thread([this] { run(); });
    }
    ~SlowClients()
    {
        m_stop = true;
        m_thread.join();
    }
    qint64 reconnects() const { return m_reconnects; }

private:
    int openOne(int slot)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = loopback(m_port);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            ::close(fd);
            return -1;
        }
        static const char half[] =
            "GET /client_v3/logon.php?u=member1.vantora.example&p=x HTTP/1.0\r\nAccept:";
        ::send(fd, half, sizeof half - 1, MSG_NOSIGNAL);
        epoll_event ev{};
        ev.events = EPOLLIN | EPOLLRDHUP;
        ev.data.u32 = quint32(slot);
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &ev);
        return fd;
    }
    void run()
    {
        std::vector<epoll_event> events(kSlowClients);
        while (!m_stop) {
            const int n = ::epoll_wait(m_epoll, events.data(), int(events.size()), 100);
            for (int k = 0; k < n; ++k) {
                const int slot = int(events[size_t(k)].data.u32);
                char sink[512];
                if (::recv(m_fds[size_t(slot)], sink, sizeof sink, MSG_DONTWAIT) > 0)
                    continue;
                ::close(m_fds[size_t(slot)]);
                m_fds[size_t(slot)] = openOne(slot);
                ++m_reconnects;
            }
        }
        for (int fd : m_fds)
            if (fd >= 0)
                ::close(fd);
        ::close(m_epoll);
    }

    quint16 m_port;
    int m_epoll;
    std::vector<int> m_fds;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_reconnects{0};
    std::thread m_thread;
};

void print(const char* what, const Result& r)
{
    std::printf(
        "%-44s %7lld ok %5lld failed in %5.1f s: %7.0f /s  p50 %7.2f ms  p99 %8.2f ms  max %8.2f ms\n", what,
        static_cast<long long>(r.done), static_cast<long long>(r.failed), r.seconds, r.perSecond(), r.p50,
        r.p99, r.max);
    std::fflush(stdout);
}

double ratio(double a, double b) { return b > 0 ? a / b : 0.0; }

// --quick: the cheapest Argon2id for the stored hashes and no PostgreSQL runs,
// for trying changes to the relogon path; first logons then mean nothing.
bool quick = false;
// --threads N: the service's workers (default: as many as clients).
int serviceThreads = kClients;

std::vector<QByteArray> hashAll()
{
    std::vector<QByteArray> hashes(kMembers);
    std::vector<std::thread> workers;
    const int n = int(std::max(1u, std::thread::hardware_concurrency()));
    for (int w = 0; w < n; ++w)
        workers.emplace_back([&, w] {
            for (int i = w; i < kMembers; i += n)
                hashes[size_t(i)] = passwords::hash(memberPassword(i), quick ? HashLimits::minimal()
                                                                             : HashLimits::interactive());
        });
    for (auto& t : workers)
        t.join();
    return hashes;
}

bool fillDatabase(const QString& location, const std::vector<QByteArray>& hashes)
{
    MemberStore store(location);
    if (!store.open()) {
        std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
        return false;
    }
    for (int i = 0; i < kMembers; ++i) {
        Member m;
        m.name = QString::fromLatin1(memberName(i));
        m.domain = QStringLiteral("vantora.example");
        m.email = QStringLiteral("member%1@example.org").arg(i);
        m.passwordHash = hashes[size_t(i)];
        m.createdMs = QDateTime::currentMSecsSinceEpoch();
        if (store.add(m) != MemberStore::AddResult::Created) {
            std::fprintf(stderr, "%s\n", qPrintable(store.lastError()));
            return false;
        }
    }
    return true;
}

class Service
{
public:
    bool start(const QString& db, const QString& logFile)
    {
        m_process.setStandardErrorFile(logFile);
        m_process.start(QCoreApplication::applicationDirPath() + QLatin1String("/vantora-directory"),
                        {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                         QStringLiteral("--db"), db, QStringLiteral("--threads"),
                         QString::number(serviceThreads)});
        if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(15000))
            return false;
        const QByteArray line = m_process.readLine().trimmed();
        port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
        return port != 0;
    }
    ~Service()
    {
        m_process.terminate();
        m_process.waitForFinished(10000);
    }
    quint16 port = 0;

private:
    QProcess m_process;
};

class Reference
{
public:
    Reference()
    {
        m_server.new_task_queue = [] { return new httplib::ThreadPool(kClients); };
        m_server.set_socket_options([this](int fd) {
            httplib::default_socket_options(fd);
            m_listenFd = fd;
        });
        m_server.Get("/client_v3/logon.php", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("127.0.0.1:2156", "text/plain");
        });
        port = quint16(m_server.bind_to_any_port("127.0.0.1"));
        // The library was built listening with a backlog of 5; listening
        // again widens it, so bursts compare like with like.
        if (m_listenFd < 0 || ::listen(m_listenFd, 1024) != 0)
            std::printf("note: the reference's backlog stays at 5; its burst figures suffer for it\n");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::yield();
    }
    ~Reference()
    {
        m_server.stop();
        m_thread.join();
    }
    quint16 port = 0;

private:
    httplib::Server m_server;
    int m_listenFd = -1;
    std::thread m_thread;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    quick = args.contains(QStringLiteral("--quick"));
    if (const qsizetype t = args.indexOf(QStringLiteral("--threads")); t > 0 && t + 1 < args.size())
        serviceThreads = std::max(1, args.at(t + 1).toInt());
    // A burst and the slow clients need more descriptors than the usual 1024.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("bench.db"));
    std::printf("hashing %d members' passwords (Argon2id, %s)...\n", kMembers,
                quick ? "cheapest limits, --quick" : "3 passes over 12 MiB");
    std::fflush(stdout);
    const auto fillStart = SteadyClock::now();
    const std::vector<QByteArray> hashes = hashAll();
    if (!fillDatabase(db, hashes)) {
        std::fprintf(stderr, "cannot fill %s\n", qPrintable(db));
        return 1;
    }
    std::printf("registered in %.1f s; service logs in %s\n\n",
                std::chrono::duration<double>(SteadyClock::now() - fillStart).count(),
                qPrintable(dir.path()));

    Reference bare;
    Result first, relogon, reference, frontAlone, frontReference, burstOurs, burstRef, quietOurs, slowOurs,
        quietRef, slowRef;
    qint64 slowReconnects = 0;
    {
        Service sqlite;
        if (!sqlite.start(db, dir.filePath(QStringLiteral("sqlite.log")))) {
            std::fprintf(stderr, "vantora-directory did not start\n");
            return 1;
        }
        first = load({sqlite.port}, true, 0);
        print("SQLite: first logons (Argon2id)", first);
        std::tie(relogon, reference) = sideBySide({sqlite.port}, bare.port, kSeconds);
        print("SQLite: relogons (session proof)", relogon);
        print("reference: bare httplib, fixed word", reference);
        frontPort = sqlite.port;
        std::tie(frontAlone, frontReference) = sideBySide({sqlite.port}, bare.port, kShortSeconds);
        frontPort = 0;
        print("our front alone (404, no database)", frontAlone);
        print("reference, taking turns with it", frontReference);

        burstOurs = burst(sqlite.port);
        print("burst of 500 connects: relogons", burstOurs);
        burstRef = burst(bare.port);
        print("burst of 500 connects: reference", burstRef);

        quietOurs = load({sqlite.port}, false, kShortSeconds);
        print("16 relogon clients, no slow clients", quietOurs);
        {
            SlowClients slow(sqlite.port);
            slowOurs = load({sqlite.port}, false, kShortSeconds);
            slowReconnects = slow.reconnects();
        }
        print("16 relogon clients beside 100 slow ones", slowOurs);
        quietRef = load({bare.port}, false, kShortSeconds);
        print("reference: 16 clients, no slow clients", quietRef);
        {
            SlowClients slow(bare.port);
            slowRef = load({bare.port}, false, kShortSeconds);
        }
        print("reference: 16 clients beside 100 slow ones", slowRef);
    }

    Result pgFirst, pgRelogon, pgReference, twoWarm, twoRelogon, twoReference;
    bool postgres = false;
    PostgresCluster cluster(QStringLiteral(VANTORA_BENCH_BUILD_DIR "/postgres"));
    if (quick) {
        std::printf("\nPostgreSQL runs skipped (--quick)\n");
    } else if (!cluster.start() || !cluster.createDatabase(QStringLiteral("bench"))) {
        std::printf("\nPostgreSQL runs skipped: %s\n", qPrintable(cluster.error()));
    } else if (!fillDatabase(cluster.url(QStringLiteral("bench")), hashes)) {
        std::printf("\nPostgreSQL runs skipped: cannot fill the database\n");
    } else {
        postgres = true;
        std::printf("\n");
        Service a, b;
        if (!a.start(cluster.url(QStringLiteral("bench")), dir.filePath(QStringLiteral("pg-a.log"))) ||
            !b.start(cluster.url(QStringLiteral("bench")), dir.filePath(QStringLiteral("pg-b.log")))) {
            std::fprintf(stderr, "vantora-directory on PostgreSQL did not start\n");
            return 1;
        }
        pgFirst = load({a.port}, true, 0);
        print("PostgreSQL: first logons (Argon2id)", pgFirst);
        std::tie(pgRelogon, pgReference) = sideBySide({a.port}, bare.port, kSeconds);
        print("PostgreSQL: relogons", pgRelogon);
        print("reference, taking turns with it", pgReference);
        // The second instance pays one full check per member before its own
        // sessions exist.
        twoWarm = load({b.port}, true, 0);
        print("second instance: first relogons (Argon2id)", twoWarm);
        std::tie(twoRelogon, twoReference) = sideBySide({a.port, b.port}, bare.port, kSeconds);
        print("two instances, one PostgreSQL: relogons", twoRelogon);
        print("reference, taking turns with them", twoReference);
    }
    cluster.stop();

    std::printf("\nrelogons / reference:              SQLite %.2f",
                ratio(relogon.perSecond(), reference.perSecond()));
    if (postgres)
        std::printf("   PostgreSQL %.2f   two instances %.2f",
                    ratio(pgRelogon.perSecond(), pgReference.perSecond()),
                    ratio(twoRelogon.perSecond(), twoReference.perSecond()));
    std::printf("\nfront alone / reference:           %.2f",
                ratio(frontAlone.perSecond(), frontReference.perSecond()));
    std::printf("\nrelogons / first logons:           %.1f\n", ratio(relogon.perSecond(), first.perSecond()));
    std::printf("burst p99 / reference burst p99:   %.2f\n", ratio(burstOurs.p99, burstRef.p99));
    std::printf(
        "slow clients: p99 with / without:  ours %.2f   reference %.2f  (%lld slow connections dropped "
        "by the read time-out and reopened)\n",
        ratio(slowOurs.p99, quietOurs.p99), ratio(slowRef.p99, quietRef.p99),
        static_cast<long long>(slowReconnects));
    std::printf(
        "goals: relogons >= 0.8 of reference on SQLite: %s;  burst p99 < 50 ms: %s;  slow-client p99 within "
        "2x: %s\n",
        ratio(relogon.perSecond(), reference.perSecond()) >= 0.8 ? "met" : "NOT met",
        burstOurs.p99 < 50 && burstOurs.failed == 0 ? "met" : "NOT met",
        slowOurs.p99 <= 2 * quietOurs.p99 && slowOurs.failed == 0 ? "met" : "NOT met");
    return 0;
}
