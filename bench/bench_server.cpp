// Frame serving under load: 1, 8 and 64 keep-alive clients on loopback against
// the streaming engine (640x480 test pattern, quality 20, two labels, one of
// them "$TIME$"), beside the rate of plain TurboJPEG encodes of the same frame
// measured in the same run. The engine runs on the main thread as in the
// program; the clients are threads with blocking sockets, and their own CPU
// time is taken out of the engine's.
//
//   bench_server [seconds per round, default 10]

#include "capture/Capture.h"
#include "shell/Globals.h"
#include "server/StreamingEngine.h"
#include "shell/Settings.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <turbojpeg.h>
#include <unistd.h>
#include <vector>

namespace {

double processCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

struct ClientResult
{
    std::vector<double> latenciesMs;
    double cpuSeconds = 0;
    bool failed = false;
};

// One keep-alive client: request, read the whole response, again, until the deadline.
void runClient(quint16 port, std::chrono::steady_clock::time_point deadline, ClientResult* out)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        out->failed = true;
        ::close(fd);
        return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    static const char request[] = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: keep-alive\r\n\r\n";
    std::vector<char> buf(1 << 20);
    while (std::chrono::steady_clock::now() < deadline) {
        const auto start = std::chrono::steady_clock::now();
        if (::send(fd, request, sizeof request - 1, MSG_NOSIGNAL) != ssize_t(sizeof request - 1)) {
            out->failed = true;
            break;
        }
        size_t have = 0;
        long long need = -1;
        while (need < 0 || have < size_t(need)) {
            const ssize_t n = ::recv(fd, buf.data() + have, buf.size() - have, 0);
            if (n <= 0) {
                out->failed = true;
                break;
            }
            have += size_t(n);
            if (need < 0) {
                const std::string_view view(buf.data(), have);
                const size_t end = view.find("\r\n\r\n");
                if (end == std::string_view::npos)
                    continue;
                const size_t at = view.find("Content-Length: ");
                need = (long long)(end + 4) + std::atoll(buf.data() + at + 16);
            }
        }
        if (out->failed)
            break;
        out->latenciesMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    ::close(fd);
    out->cpuSeconds = threadCpuSeconds();
}

double percentile(std::vector<double>& v, double p)
{
    if (v.empty())
        return 0;
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    std::nth_element(v.begin(), v.begin() + long(i), v.end());
    return v[i];
}

// Plain TurboJPEG encodes of one picture for `seconds`: encodes per second.
double plainEncodeRate(const QImage& picture, double seconds)
{
    tjhandle h = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    long count = 0;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < seconds * 1000) {
        tjCompress2(h, picture.constBits(), picture.width(), int(picture.bytesPerLine()), picture.height(),
                    TJPF_BGRX, &out, &size, TJSAMP_420, 20, 0);
        ++count;
    }
    tjFree(out);
    tjDestroy(h);
    return double(count) / (double(t.elapsed()) / 1000.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 10.0;

    initGlobalDefaults();
    setSettingsPath(home.path() + QStringLiteral("/bench.ini"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("bench"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
    SaveSetting(QStringLiteral("JPEG"), QStringLiteral("Quality"), QStringLiteral("20"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("2"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("1caption"), QStringLiteral("$TIME$"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("1color"), QStringLiteral("16777215"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("2caption"), QStringLiteral("Vantora bench cam"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("2y"), QStringLiteral("6900"));

    // A directory that accepts the logon and never answers: the engine stays
    // in "Logging on..." and serves.
    QTcpServer silentDirectory;
    silentDirectory.listen(QHostAddress::LocalHost, 0);
    globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(silentDirectory.serverPort());

    Capture cap;
    if (!cap.setDriverIndex(cap.driverCount() - 1)) {
        std::fprintf(stderr, "bench_server: the test pattern does not start\n");
        return 1;
    }
    {
        QEventLoop wait;
        QObject::connect(&cap, &Capture::frameArrived, &wait, &QEventLoop::quit);
        QTimer::singleShot(15000, &wait, &QEventLoop::quit);
        cap.grabFrame();
        if (cap.frame().isNull())
            wait.exec();
        cap.grabFrame();
    }
    if (cap.frame().isNull()) {
        std::fprintf(stderr, "bench_server: no frame from the test pattern\n");
        return 1;
    }
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    auto* engine = new StreamingEngine(&cap);
    engine->start();
    if (!engine->listening()) {
        std::fprintf(stderr, "bench_server: the engine does not listen\n");
        return 1;
    }
    const quint16 port = engine->listenPort();
    std::printf("frames %dx%d, quality 20, labels \"$TIME$\" and text, %.0f s per round, port %u\n",
                cap.frame().width(), cap.frame().height(), seconds, port);

    // The reference: the same composed frame, encoded by plain TurboJPEG.
    FrameComposer::Request r;
    r.capture = &cap;
    r.size = engine->referenceFrame();
    r.templates = &engine->templates();
    r.labelCount = 2;
    const QImage picture = engine->composer().composePicture(r, QDateTime::currentDateTime());
    const double plainRate = plainEncodeRate(picture, std::min(seconds, 3.0));
    std::printf("plain TurboJPEG encodes of the same frame: %.0f /s (%.2f ms each)\n\n", plainRate,
                1000.0 / plainRate);
    std::printf("%8s %12s %9s %9s %9s %14s %10s %12s\n", "clients", "responses/s", "p50 ms", "p99 ms",
                "cpu ms", "encodes/s", "vs plain", "failures");

    for (int clients : {1, 8, 64}) {
        std::vector<ClientResult> results(static_cast<size_t>(clients));
        std::vector<std::thread> threads;
        const quint64 encodesBefore = engine->composer().encodeCount();
        const double cpuBefore = processCpuSeconds();
        const auto deadline = std::chrono::steady_clock::now()
            + std::chrono::milliseconds(qint64(seconds * 1000));
        QElapsedTimer wall;
        wall.start();
        std::atomic<int> running{clients};
        QEventLoop loop;
        for (int i = 0; i < clients; ++i) {
            threads.emplace_back([&, i] {
                runClient(port, deadline, &results[size_t(i)]);
                if (--running == 0)
                    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
            });
        }
        loop.exec();
        for (std::thread& t : threads)
            t.join();
        const double elapsed = double(wall.elapsed()) / 1000.0;
        double clientCpu = 0;
        int failures = 0;
        std::vector<double> all;
        for (ClientResult& c : results) {
            clientCpu += c.cpuSeconds;
            failures += c.failed ? 1 : 0;
            all.insert(all.end(), c.latenciesMs.begin(), c.latenciesMs.end());
        }
        const double engineCpu = processCpuSeconds() - cpuBefore - clientCpu;
        const double rate = double(all.size()) / elapsed;
        const double encodes = double(engine->composer().encodeCount() - encodesBefore) / elapsed;
        std::printf("%8d %12.0f %9.2f %9.2f %9.3f %14.1f %9.2fx %12d\n", clients, rate, percentile(all, 0.5),
                    percentile(all, 0.99), all.empty() ? 0.0 : engineCpu * 1000.0 / double(all.size()), encodes,
                    rate / plainRate, failures);
        std::fflush(stdout);
        // Let the handlers of this round end before the next.
        QEventLoop settle;
        QTimer::singleShot(200, &settle, &QEventLoop::quit);
        settle.exec();
    }
    std::printf("\ngoals: 1 client >= 0.50x plain; 64 clients > 1.00x plain; p99 < 20 ms at 64 clients\n");
    engine->unload();
    return 0;
}
