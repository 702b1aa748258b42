#include "HttpFrontend.h"

#include "DirectoryService.h"

#include <QFile>
#include <chrono>
#include <httplib.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace directory {

namespace {
// Our clients send a short GET; nothing legitimate comes near this.
constexpr size_t kMaxPayload = 8 * 1024;

thread_local std::chrono::steady_clock::time_point t_requestStart;

const char* const kTextPlain = "text/plain";
const char* const kHtml = "text/html; charset=utf-8";

QByteArray htmlPage(const char* title, const char* body)
{
    return QByteArray("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>") + title +
           " - Vantora</title></head>\n<body>\n<h1>" + title + "</h1>\n" + body +
           "\n<p><a href=\"/\">Vantora</a> | <a href=\"/help.html\">Help</a> | <a "
           "href=\"/support.html\">Support</a> | <a href=\"/terms.html\">Terms</a> | <a "
           "href=\"/legal.html\">Legal</a> | <a href=\"/download.html\">Download</a></p>\n</body></html>\n";
}
} // namespace

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
            if (eq != std::string_view::npos && percentDecode(pair.substr(0, eq)) == "p")
                out += std::string(pair.substr(0, eq + 1)) + '*';
            else
                out += pair;
            start = end + 1;
        }
    }
    QString text;
    for (unsigned char c : out) {
        if (c < 0x20 || c >= 0x7f)
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
    : m_service(service), m_options(std::move(options)), m_log(std::move(log)),
      m_server(std::make_unique<httplib::Server>())
{
    httplib::Server& svr = *m_server;
    const size_t threads = size_t(std::max(1, m_options.threads));
    svr.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    svr.set_payload_max_length(kMaxPayload);
    svr.set_read_timeout(m_options.readTimeoutSec, 0);
    svr.set_write_timeout(m_options.readTimeoutSec, 0);
    // Our clients take the first piece that arrives for the whole answer (the
    // update check reads nothing after it), but httplib writes the header and
    // the body with two sends. Corked sockets (accepted ones inherit it from
    // the listener) hold both until the connection closes, which flushes them
    // as one segment; so every connection closes after one answer, which
    // HTTP/1.0 clients expect anyway.
    svr.set_socket_options([](socket_t sock) {
        int on = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        ::setsockopt(sock, IPPROTO_TCP, TCP_CORK, &on, sizeof on);
    });
    svr.set_keep_alive_max_count(1);

    svr.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
        t_requestStart = std::chrono::steady_clock::now();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    svr.set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        if (!m_log)
            return;
        // Requests httplib refuses before routing have no start time.
        const bool timed = t_requestStart != std::chrono::steady_clock::time_point();
        const double ms =
            timed
                ? std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t_requestStart)
                      .count()
                : 0.0;
        t_requestStart = {};
        m_log(
            QStringLiteral("%1 %2 %3 %4 %5 ms")
                .arg(req.remote_addr.empty() ? QStringLiteral("-") : QString::fromStdString(req.remote_addr),
                     req.method.empty() ? QStringLiteral("-") : QString::fromStdString(req.method),
                     loggableTarget(req.target))
                .arg(res.status)
                .arg(timed ? QString::number(ms, 'f', 2) : QStringLiteral("-")));
    });

    svr.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        const QString path = QString::fromStdString(req.path);
        const size_t q = req.target.find('?');
        const std::string_view query =
            q == std::string::npos ? std::string_view() : std::string_view(req.target).substr(q + 1);

        Reply reply{404, "NOT FOUND"};
        if (path == QLatin1String("/client_v3/logon.php")) {
            reply = m_service.logon(Params::fromQuery(query), QString::fromStdString(req.remote_addr));
        } else if (path == QLatin1String("/client_v3/logoff.php")) {
            reply = m_service.logoff(Params::fromQuery(query));
        } else if (path == QLatin1String("/client_v3/register.php")) {
            reply = m_service.registerMember(Params::fromQuery(query));
        } else if (path == QLatin1String("/client_v3/askchat.php")) {
            reply = m_service.askChat(Params::fromQuery(query));
        } else if (path == QLatin1String("/autoupdate/autoupdate.txt")) {
            QFile file(m_options.updateFile);
            if (!m_options.updateFile.isEmpty() && file.open(QIODevice::ReadOnly)) {
                reply = {200, file.readAll()};
            } else if (!m_options.updateFile.isEmpty() && m_log) {
                m_log(QStringLiteral("update file %1 cannot be read: %2")
                          .arg(m_options.updateFile, file.errorString()));
            }
        } else {
            const QByteArray html = page(path);
            if (!html.isEmpty()) {
                res.status = 200;
                res.set_content(html.constData(), size_t(html.size()), kHtml);
                return;
            }
        }
        res.status = reply.status;
        res.set_content(reply.body.constData(), size_t(reply.body.size()), kTextPlain);
    });
}

HttpFrontend::~HttpFrontend()
{
    stop();
}

bool HttpFrontend::bind(const QString& address, quint16 port, QString* error)
{
    if (port == 0) {
        const int bound = m_server->bind_to_any_port(address.toStdString());
        if (bound > 0) {
            m_port = quint16(bound);
            return true;
        }
    } else if (m_server->bind_to_port(address.toStdString(), port)) {
        m_port = port;
        return true;
    }
    if (error)
        *error = QStringLiteral("cannot listen on %1:%2").arg(address).arg(port);
    return false;
}

void HttpFrontend::serve()
{
    m_server->listen_after_bind();
}

bool HttpFrontend::isRunning() const
{
    return m_server->is_running();
}

void HttpFrontend::stop()
{
    m_server->stop();
}

} // namespace directory
