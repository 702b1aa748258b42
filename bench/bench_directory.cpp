// Logons against the real vantora-directory on loopback: first logons (each
// pays Argon2id) and relogons (the session proof) of 1000 members from 16
// concurrent clients, with p99 latency. The reference is a bare cpp-httplib
// server answering a fixed word with the same thread count: the ceiling the
// HTTP layer itself allows on this machine.

#include "MemberStore.h"
#include "Passwords.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace directory;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr int kMembers = 1000;
constexpr int kClients = 16;
constexpr int kSeconds = 10;

QByteArray memberName(int i)
{
    return "member" + QByteArray::number(i) + ".vantora.example";
}
QByteArray memberPassword(int i)
{
    return "pw-" + QByteArray::number(i * 7919);
}

// One client request as the program sends it; true when the answer is an address.
bool logonOnce(quint16 port, int member, double* ms)
{
    const auto start = SteadyClock::now();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const QByteArray req =
            "GET /client_v3/logon.php?u=" + memberName(member) + "&p=" + memberPassword(member) +
            "&i=192.168.0.10:2156 HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Vantora Client\r\nHost: "
            "127.0.0.1:" +
            QByteArray::number(port) + "\r\n\r\n";
        if (::send(fd, req.constData(), size_t(req.size()), MSG_NOSIGNAL) == req.size()) {
            QByteArray answer;
            char buf[1024];
            ssize_t n;
            while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
                answer.append(buf, n);
            ok = answer.endsWith("\r\n\r\n127.0.0.1:2156");
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
    double perSecond() const { return seconds > 0 ? done / seconds : 0; }
};

// Each client walks its share of the members; `once` runs each member one time,
// otherwise the clients go round until the time is up.
Result load(quint16 port, bool once, int seconds)
{
    std::vector<std::vector<double>> latencies(kClients);
    std::atomic<qint64> failed{0};
    const auto start = SteadyClock::now();
    const auto end = start + std::chrono::seconds(seconds);
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
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
    Result r;
    r.seconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    std::vector<double> all;
    for (auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    r.done = qint64(all.size());
    r.failed = failed;
    if (!all.empty()) {
        r.p50 = all[all.size() / 2];
        r.p99 = all[std::min(all.size() - 1, size_t(double(all.size()) * 0.99))];
    }
    return r;
}

void print(const char* what, const Result& r)
{
    std::printf("%-34s %8lld ok %5lld failed in %5.1f s: %8.0f /s  p50 %6.2f ms  p99 %6.2f ms\n", what,
                static_cast<long long>(r.done), static_cast<long long>(r.failed), r.seconds, r.perSecond(),
                r.p50, r.p99);
    std::fflush(stdout);
}

bool fillDatabase(const QString& path)
{
    MemberStore store(path);
    if (!store.open())
        return false;
    // Hash on every core; the store takes the inserts one at a time.
    std::vector<QByteArray> hashes(kMembers);
    std::vector<std::thread> workers;
    const int n = int(std::max(1u, std::thread::hardware_concurrency()));
    for (int w = 0; w < n; ++w)
        workers.emplace_back([&, w] {
            for (int i = w; i < kMembers; i += n)
                hashes[size_t(i)] = passwords::hash(memberPassword(i));
        });
    for (auto& t : workers)
        t.join();
    for (int i = 0; i < kMembers; ++i) {
        Member m;
        m.name = QString::fromLatin1(memberName(i));
        m.domain = QStringLiteral("vantora.example");
        m.email = QStringLiteral("member%1@example.org").arg(i);
        m.passwordHash = hashes[size_t(i)];
        m.createdMs = QDateTime::currentMSecsSinceEpoch();
        if (store.add(m) != MemberStore::AddResult::Created)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("bench.db"));
    std::printf("registering %d members (Argon2id, 3 passes over 12 MiB)...\n", kMembers);
    std::fflush(stdout);
    const auto fillStart = SteadyClock::now();
    if (!fillDatabase(db)) {
        std::fprintf(stderr, "cannot fill %s\n", qPrintable(db));
        return 1;
    }
    std::printf("registered in %.1f s\n",
                std::chrono::duration<double>(SteadyClock::now() - fillStart).count());

    QProcess service;
    service.setStandardErrorFile(dir.filePath(QStringLiteral("service.log")));
    service.start(QCoreApplication::applicationDirPath() + QLatin1String("/vantora-directory"),
                  {QStringLiteral("serve"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--db"), db, QStringLiteral("--threads"), QString::number(kClients)});
    if (!service.waitForStarted(10000) || !service.waitForReadyRead(15000)) {
        std::fprintf(stderr, "vantora-directory did not start\n");
        return 1;
    }
    const QByteArray line = service.readLine().trimmed();
    const quint16 port = quint16(line.mid(line.lastIndexOf(':') + 1).toUInt());
    std::printf("%s (log: %s)\n\n", line.constData(),
                qPrintable(dir.filePath(QStringLiteral("service.log"))));

    const Result first = load(port, true, 0);
    print("first logons (Argon2id)", first);
    const Result relogon = load(port, false, kSeconds);
    print("relogons (session proof)", relogon);
    service.terminate();
    service.waitForFinished(10000);

    // Reference: the HTTP layer alone, same threads, same clients.
    httplib::Server bare;
    bare.new_task_queue = [] { return new httplib::ThreadPool(kClients); };
    bare.Get("/client_v3/logon.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("127.0.0.1:2156", "text/plain");
    });
    const int barePort = bare.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { bare.listen_after_bind(); });
    while (!bare.is_running())
        std::this_thread::yield();
    const Result reference = load(quint16(barePort), false, kSeconds);
    print("reference: bare httplib, fixed word", reference);
    bare.stop();
    serving.join();

    std::printf("\nrelogons / reference: %.2f   relogons / first logons: %.1f\n",
                reference.perSecond() > 0 ? relogon.perSecond() / reference.perSecond() : 0.0,
                first.perSecond() > 0 ? relogon.perSecond() / first.perSecond() : 0.0);
    std::printf("goal: >= 2000 relogons/s with p99 < 50 ms: %s\n",
                relogon.perSecond() >= 2000 && relogon.p99 < 50 ? "met" : "NOT met");
    return 0;
}
