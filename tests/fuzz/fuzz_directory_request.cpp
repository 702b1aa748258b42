// Whole requests to the directory's HTTP front over loopback, as any client
// or proxy may send them: the request line, the headers (X-Forwarded-For from
// a trusted proxy included) and the query. A whole request always gets an
// HTTP answer; the front never stops serving.

#include "DirectoryFixture.h"
#include "FuzzCheck.h"
#include "directory/HttpFrontend.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

struct Front
{
    Front() : front(directory.service, options(), [](const QString&) {})
    {
        FUZZ_CHECK(front.bind(QStringLiteral("127.0.0.1"), 0, nullptr));
        thread = std::thread([this] { front.serve(); });
    }
    ~Front()
    {
        front.stop();
        thread.join();
    }
    static directory::HttpFrontend::Options options()
    {
        directory::HttpFrontend::Options o;
        o.threads = 2;
        o.trustedProxies = {QStringLiteral("127.0.0.1")};
        return o;
    }
    fuzzfixture::Directory directory;
    directory::HttpFrontend front;
    std::thread thread;
};

// libFuzzer's hang watch is a timer signal: every call may be interrupted.
bool connectTo(int fd, quint16 port)
{
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
        return true;
    if (errno != EINTR)
        return false;
    // The connection goes on being made: wait for its outcome.
    pollfd p{fd, POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

QByteArray exchange(quint16 port, const QByteArray& request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    if (!connectTo(fd, port)) {
        std::fprintf(stderr, "connecting: %s\n", std::strerror(errno));
        FUZZ_CHECK(false);
    }
    // The front may answer and close before taking everything: not an error.
    for (qsizetype sent = 0; sent < request.size();) {
        const ssize_t n = ::send(fd, request.constData() + sent, size_t(request.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        sent += n;
    }
    ::shutdown(fd, SHUT_WR);
    QByteArray answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            std::fprintf(stderr, "receiving the answer: %s\n", std::strerror(errno));
        if (n <= 0)
            break;
        answer.append(buffer, n);
    }
    ::close(fd);
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzfixture::application();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static Front front;
    const QByteArray request(reinterpret_cast<const char*>(bytes), qsizetype(size));
    const QByteArray answer = exchange(front.front.port(), request);
    if (request.size() <= 8 * 1024 && request.contains("\r\n\r\n"))
        FUZZ_CHECK(answer.startsWith("HTTP/1."));
    return 0;
}
