// vantora-directory: the directory service members log on to.

#include "directory/Clock.h"
#include "directory/DirectoryService.h"
#include "directory/HttpFrontend.h"
#include "directory/MemberStore.h"
#include "directory/Passwords.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <thread>

using namespace directory;

namespace {

std::mutex logLock;

void logLine(const QString& line)
{
    // One line each, whatever a database error message holds.
    QByteArray text = line.toUtf8();
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    const QByteArray bytes =
        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toUtf8() + ' ' + text + '\n';
    std::lock_guard lock(logLock);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

int usage()
{
    std::fputs(
        "usage:\n"
        "  vantora-directory serve --listen ADDR:PORT --db FILE|postgresql://... [--update-file FILE]\n"
        "                          [--domains a.example,b.example] [--threads N]\n"
        "                          [--read-timeout SECONDS] [--max-connections N]\n"
        "                          [--trusted-proxies ADDR[/BITS],...]\n"
        "                          [--failed-logons-per-address N] [--failed-logons-per-account N]\n"
        "                          [--registrations-per-hour N] [--invitations-per-minute N]\n"
        "  vantora-directory add-member --db FILE|postgresql://... --user U --domain D --password P\n"
        "                               [--email E] [--name N]\n"
        "  vantora-directory list-members --db FILE|postgresql://...\n",
        stderr);
    return 2;
}

// "--key value" pairs after the subcommand; false on anything else.
bool parseOptions(const QStringList& args, const QStringList& known, QHash<QString, QString>* out)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (!a.startsWith(QLatin1String("--")) || !known.contains(a.mid(2)) || i + 1 >= args.size()) {
            std::fprintf(stderr, "vantora-directory: unexpected argument: %s\n", qPrintable(a));
            return false;
        }
        out->insert(a.mid(2), args[++i]);
    }
    return true;
}

// A whole number option within [low, high]; false (and a message) otherwise.
bool intOption(const QHash<QString, QString>& opt, const char* name, int low, int high, int* out)
{
    const QString key = QLatin1String(name);
    if (!opt.contains(key))
        return true;
    bool ok = false;
    const int value = opt.value(key).toInt(&ok);
    if (!ok || value < low || value > high) {
        std::fprintf(stderr, "vantora-directory: --%s takes %d to %d\n", name, low, high);
        return false;
    }
    *out = value;
    return true;
}

int serve(const QHash<QString, QString>& opt)
{
    const QString listen = opt.value(QStringLiteral("listen"));
    const QString db = opt.value(QStringLiteral("db"));
    const qsizetype colon = listen.lastIndexOf(u':');
    bool portOk = false;
    const uint port = colon < 0 ? 0 : listen.mid(colon + 1).toUInt(&portOk);
    if (db.isEmpty() || colon <= 0 || !portOk || port > 65535) {
        std::fputs("vantora-directory: serve needs --listen ADDR:PORT and --db FILE\n", stderr);
        return 2;
    }
    QString address = listen.left(colon);
    if (address.startsWith(u'[') && address.endsWith(u']'))
        address = address.mid(1, address.size() - 2);
    if (address.contains(u':')) {
        std::fprintf(stderr,
                     "vantora-directory: cannot listen on %s: IPv6 addresses are not supported (members are "
                     "told their address as IPv4 address:port); listen on an IPv4 address, for example "
                     "0.0.0.0:%u\n",
                     qPrintable(listen), port);
        return 2;
    }
    if (const QString problem = MemberStore::checkLocation(db); !problem.isEmpty()) {
        std::fprintf(stderr, "vantora-directory: --db: %s\n", qPrintable(problem));
        return 2;
    }

    DirectoryService::Options serviceOptions;
    if (opt.contains(QStringLiteral("domains")))
        serviceOptions.domains = opt.value(QStringLiteral("domains")).split(u',', Qt::SkipEmptyParts);
    HttpFrontend::Options httpOptions;
    httpOptions.updateFile = opt.value(QStringLiteral("update-file"));
    int registrationsPerHour = serviceOptions.registrationsPerAddress;
    int invitationsPerMinute = serviceOptions.invitationsPerMember;
    if (!intOption(opt, "threads", 1, 256, &httpOptions.threads) ||
        !intOption(opt, "max-connections", 16, 1000000, &httpOptions.maxConnections) ||
        !intOption(opt, "failed-logons-per-address", 0, 1000000, &serviceOptions.failedLogonsPerAddress) ||
        !intOption(opt, "failed-logons-per-account", 0, 1000000, &serviceOptions.failedLogonsPerAccount) ||
        !intOption(opt, "registrations-per-hour", 0, 1000000, &registrationsPerHour) ||
        !intOption(opt, "invitations-per-minute", 0, 1000000, &invitationsPerMinute))
        return 2;
    serviceOptions.registrationsPerAddress = registrationsPerHour;
    serviceOptions.invitationsPerMember = invitationsPerMinute;
    if (opt.contains(QStringLiteral("read-timeout"))) {
        bool ok = false;
        const double seconds = opt.value(QStringLiteral("read-timeout")).toDouble(&ok);
        if (!ok || seconds < 0.05 || seconds > 600) {
            std::fputs("vantora-directory: --read-timeout takes 0.05 to 600 seconds\n", stderr);
            return 2;
        }
        httpOptions.readTimeoutMs = int(seconds * 1000);
    }
    if (opt.contains(QStringLiteral("trusted-proxies"))) {
        httpOptions.trustedProxies =
            opt.value(QStringLiteral("trusted-proxies")).split(u',', Qt::SkipEmptyParts);
        for (QString& p : httpOptions.trustedProxies)
            p = p.trimmed();
        if (const QString problem = HttpFrontend::checkProxies(httpOptions.trustedProxies);
            !problem.isEmpty()) {
            std::fprintf(stderr, "vantora-directory: --trusted-proxies: %s\n", qPrintable(problem));
            return 2;
        }
    }
    if (!passwords::init()) {
        std::fputs("vantora-directory: libsodium cannot be initialised\n", stderr);
        return 1;
    }

    // Signals go to one waiting thread, which ends the server cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    MemberStore store(db);
    // A store that cannot be opened is not fatal: logons answer "DB DOWN" and
    // each request tries again.
    if (!store.open())
        logLine(QStringLiteral("database unavailable: %1").arg(store.lastError()));
    for (const QString& warning : MemberStore::widerModes(db))
        logLine(QStringLiteral("warning: ") + warning);

    SystemClock clock;
    DirectoryService service(store, clock, serviceOptions, logLine);
    HttpFrontend http(service, httpOptions, logLine);
    QString error;
    if (!http.bind(address, quint16(port), &error)) {
        logLine(error);
        return 1;
    }
    std::printf("listening on %s:%u\n", qPrintable(address), unsigned(http.port()));
    std::fflush(stdout);
    logLine(QStringLiteral(
                "serving %1:%2, database %3, domains %4, update file %5, %6 workers, read time-out %7 ms, "
                "trusted proxies %8")
                .arg(address)
                .arg(http.port())
                .arg(store.displayLocation(), serviceOptions.domains.join(u','),
                     httpOptions.updateFile.isEmpty() ? QStringLiteral("none") : httpOptions.updateFile)
                .arg(httpOptions.threads)
                .arg(httpOptions.readTimeoutMs)
                .arg(httpOptions.trustedProxies.isEmpty() ? QStringLiteral("none")
                                                          : httpOptions.trustedProxies.join(u',')));

    std::thread waiter([&http, stopSignals] {
        int sig = 0;
        sigwait(&stopSignals, &sig);
        if (sig != 0)
            http.stop();
    });
    http.serve();
    // Wake the waiter if serve() ended for another reason.
    pthread_kill(waiter.native_handle(), SIGTERM);
    waiter.join();
    logLine(QStringLiteral("stopped"));
    return 0;
}

int addMember(const QHash<QString, QString>& opt)
{
    const QString db = opt.value(QStringLiteral("db"));
    const QString user = opt.value(QStringLiteral("user"));
    const QString domain = opt.value(QStringLiteral("domain")).trimmed().toLower();
    const QByteArray password = opt.value(QStringLiteral("password")).toUtf8();
    const QString email = opt.value(QStringLiteral("email"));
    const QString fullName = opt.value(QStringLiteral("name"));
    if (db.isEmpty() || user.isEmpty() || domain.isEmpty() || password.isEmpty()) {
        std::fputs("vantora-directory: add-member needs --db, --user, --domain and --password\n", stderr);
        return 2;
    }
    const QString problem = checkNewMember(user, password, fullName, email, false);
    if (!problem.isEmpty() || domain.contains(u' ') || domain.contains(u'/')) {
        std::fprintf(stderr, "vantora-directory: %s\n",
                     qPrintable(problem.isEmpty() ? QStringLiteral("invalid domain") : problem));
        return 2;
    }
    MemberStore store(db);
    if (!store.open()) {
        std::fprintf(stderr, "vantora-directory: %s\n", qPrintable(store.lastError()));
        return 1;
    }
    Member m;
    m.name = user + u'.' + domain;
    m.domain = domain;
    m.email = email;
    m.fullName = fullName;
    m.createdMs = SystemClock().nowMs();
    m.passwordHash = passwords::hash(password);
    if (m.passwordHash.isEmpty()) {
        std::fputs("vantora-directory: password hashing failed\n", stderr);
        return 1;
    }
    switch (store.add(m)) {
    case MemberStore::AddResult::Created:
        std::printf("added %s\n", qPrintable(m.name));
        return 0;
    case MemberStore::AddResult::NameInUse:
        std::fprintf(stderr, "vantora-directory: %s is in use\n", qPrintable(m.name));
        return 1;
    case MemberStore::AddResult::EmailInUse:
        std::fprintf(stderr, "vantora-directory: e-mail address %s is in use\n", qPrintable(email));
        return 1;
    case MemberStore::AddResult::Failed:
        break;
    }
    std::fprintf(stderr, "vantora-directory: %s\n", qPrintable(store.lastError()));
    return 1;
}

int listMembers(const QHash<QString, QString>& opt)
{
    const QString db = opt.value(QStringLiteral("db"));
    if (db.isEmpty())
        return usage();
    MemberStore store(db);
    const auto members = store.open() ? store.list() : std::nullopt;
    if (!members) {
        std::fprintf(stderr, "vantora-directory: %s\n", qPrintable(store.lastError()));
        return 1;
    }
    SystemClock clock;
    DirectoryService::Options quick;
    quick.hashLimits = HashLimits::minimal();
    DirectoryService presence(store, clock, quick);
    for (const Member& m : *members) {
        const QString where = presence.isOnline(m) ? QStringLiteral("online %1:%2").arg(m.address).arg(m.port)
                                                   : QStringLiteral("offline");
        const QString last =
            m.lastLogonMs > 0 ? QDateTime::fromMSecsSinceEpoch(m.lastLogonMs, Qt::UTC).toString(Qt::ISODate)
                              : QStringLiteral("never");
        std::printf("%s\t%s\t%s\t%s\tlast logon %s\n", qPrintable(m.name), qPrintable(m.email),
                    qPrintable(m.fullName), qPrintable(where), qPrintable(last));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    QHash<QString, QString> opt;
    if (command == QLatin1String("serve")) {
        if (!parseOptions(args,
                          {"listen", "db", "update-file", "domains", "threads", "read-timeout",
                           "max-connections", "trusted-proxies", "failed-logons-per-address",
                           "failed-logons-per-account", "registrations-per-hour", "invitations-per-minute"},
                          &opt))
            return usage();
        return serve(opt);
    }
    if (command == QLatin1String("add-member")) {
        if (!parseOptions(args, {"db", "user", "domain", "password", "email", "name"}, &opt))
            return usage();
        return addMember(opt);
    }
    if (command == QLatin1String("list-members")) {
        if (!parseOptions(args, {"db"}, &opt))
            return usage();
        return listMembers(opt);
    }
    return usage();
}
