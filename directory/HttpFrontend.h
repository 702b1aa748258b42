#pragma once
// The HTTP side of the service: one event thread accepts connections and reads
// each request whole (within the read time-out) before a worker sees it, so a
// slow or silent client costs a connection, never a worker's time. Workers
// answer (routes, the update file, the product's pages) and write one log line
// per request. Every connection closes after one answer, as HTTP/1.0 clients
// expect.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>

namespace directory {

class DirectoryService;
struct Reply;

class HttpFrontend
{
public:
    using Logger = std::function<void(const QString&)>;
    struct Options
    {
        QString updateFile; // empty: no update file offered
        int threads = 16;
        // The whole request must arrive within this time, and the answer leave.
        int readTimeoutMs = 5000;
        int backlog = 1024;
        int maxConnections = 8192;
        // Proxies whose X-Forwarded-For names the member's address: IPv4
        // addresses or networks ("10.0.0.0/8").
        QStringList trustedProxies;
    };

    HttpFrontend(DirectoryService& service, Options options, Logger log);
    ~HttpFrontend();
    HttpFrontend(const HttpFrontend&) = delete;
    HttpFrontend& operator=(const HttpFrontend&) = delete;

    // Checks a trusted proxy list; an empty text when it is fine, else why not.
    static QString checkProxies(const QStringList& proxies);

    // Binds an IPv4 address and port (port 0 picks a free one); false and why
    // on failure.
    bool bind(const QString& address, quint16 port, QString* error);
    quint16 port() const;
    // Serves until stop(); blocks.
    void serve();
    bool isRunning() const;
    // Ends serve(), from any thread; a serve() that has not begun yet returns at once.
    void stop();

    // The request target for the log: values of "p" (password), "e" (e-mail)
    // and "n" (full name) replaced by "*", anything unprintable escaped, cut
    // to a sane length.
    static QString loggableTarget(const std::string& target);
    static QByteArray page(const QString& path);

    // Where a request really came from: the connection's peer, or for a
    // trusted proxy the last untrusted address of X-Forwarded-For. Empty when
    // a trusted proxy forwards something that is not an IPv4 address.
    QString clientAddress(const QString& peer, const QByteArray& forwardedFor) const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace directory
