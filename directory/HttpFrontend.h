#pragma once
// The HTTP side of the service (cpp-httplib): routes, the update file, the
// product's pages, limits and one log line per request.

#include <QString>
#include <functional>
#include <memory>

namespace httplib {
class Server;
}

namespace directory {

class DirectoryService;

class HttpFrontend
{
public:
    using Logger = std::function<void(const QString&)>;
    struct Options
    {
        QString updateFile; // empty: no update file offered
        int threads = 16;
        int readTimeoutSec = 5;
    };

    HttpFrontend(DirectoryService& service, Options options, Logger log);
    ~HttpFrontend();
    HttpFrontend(const HttpFrontend&) = delete;
    HttpFrontend& operator=(const HttpFrontend&) = delete;

    // Binds address:port (port 0 picks a free one); false and why on failure.
    bool bind(const QString& address, quint16 port, QString* error);
    quint16 port() const { return m_port; }
    // Serves until stop(); blocks.
    void serve();
    bool isRunning() const;
    // Ends serve(); does nothing when serve() has not begun yet.
    void stop();

    // "p" values replaced by "*", anything unprintable escaped, cut to a sane length.
    static QString loggableTarget(const std::string& target);
    static QByteArray page(const QString& path);

private:
    DirectoryService& m_service;
    Options m_options;
    Logger m_log;
    std::unique_ptr<httplib::Server> m_server;
    quint16 m_port = 0;
};

} // namespace directory
