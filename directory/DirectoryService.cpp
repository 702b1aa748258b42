#include "directory/DirectoryService.h"

#include <QRandomGenerator>
#include <mutex>
#include <sodium.h>

namespace directory {

namespace {
const QByteArray kBad = "BAD";

// Short on purpose: the logon client takes any answer longer than six
// characters for an address.
Reply bad(const QString& note = QString()) { return {400, kBad, {}, note}; }
Reply ok(const QByteArray& word, const QString& note = QString()) { return {200, word, {}, note}; }

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool hasControl(const QString& s)
{
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f || c.category() == QChar::Other_Control)
            return true;
    return false;
}

bool hasControl(const QByteArray& s)
{
    for (char c : s)
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return true;
    return false;
}

// Port of an "address:port" text, 0 when there is none.
int portOf(const QString& hostPort)
{
    const qsizetype colon = hostPort.lastIndexOf(u':');
    if (colon < 0)
        return 0;
    const QString digits = hostPort.mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return 0;
    for (QChar c : digits)
        if (!c.isDigit() || c.unicode() > '9')
            return 0;
    const int port = digits.toInt();
    return port >= 1 && port <= 65535 ? port : 0;
}

// For the log: control characters shown as code points.
QString printable(const QString& s)
{
    QString out;
    for (QChar c : s.left(200))
        out += c.unicode() < 0x20 || c.unicode() == 0x7f
                   ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'))
                   : QString(c);
    return out;
}

// "_" + address + ":" + port + "_" + name, written straight into the request
// line delivered to the invited member: nothing that could end or split it.
bool validSenderDescriptor(const QByteArray& f)
{
    if (f.size() < 4 || f.size() > 300 || f.at(0) != '_')
        return false;
    for (char c : f)
        if (uchar(c) <= 0x20 || uchar(c) == 0x7f)
            return false;
    const qsizetype second = f.indexOf('_', 1);
    if (second < 0 || second == f.size() - 1)
        return false;
    return f.mid(1, second - 1).contains(':');
}
} // namespace

QByteArray percentDecode(std::string_view text)
{
    QByteArray out;
    out.reserve(qsizetype(text.size()));
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.append(char(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.append(c);
    }
    return out;
}

Params Params::fromQuery(std::string_view query)
{
    Params p;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string_view::npos)
            end = query.size();
        const std::string_view pair = query.substr(start, end - start);
        if (!pair.empty()) {
            const size_t eq = pair.find('=');
            const QString key = QString::fromUtf8(percentDecode(pair.substr(0, eq)));
            const QByteArray value =
                eq == std::string_view::npos ? QByteArray() : percentDecode(pair.substr(eq + 1));
            if (!p.m_values.contains(key))
                p.m_values.insert(key, value);
        }
        start = end + 1;
    }
    return p;
}

void Params::set(const QString& key, const QByteArray& value) { m_values.insert(key, value); }

QStringList defaultDomains()
{
    return {QStringLiteral("vantora.example"), QStringLiteral("camfriends.example")};
}

QString checkNewMember(const QString& user, const QByteArray& password, const QString& fullName,
                       const QString& email, bool requireNameAndEmail)
{
    static const QString forbidden = QStringLiteral("' \u00a0&?^%$#@!():\"");
    for (QChar c : forbidden)
        if (user.contains(c))
            return QStringLiteral("user name contains invalid characters");
    if (hasControl(user) || user.contains(u'/') || user.contains(u'\\'))
        return QStringLiteral("user name contains invalid characters");
    for (QChar c : user)
        if (c.isSpace())
            return QStringLiteral("user name contains invalid characters");
    if (user.size() < 3)
        return QStringLiteral("user name is shorter than 3 characters");
    if (user.size() > 64)
        return QStringLiteral("user name is longer than 64 characters");
    if (password.contains('\'') || password.contains('&') || hasControl(password))
        return QStringLiteral("password contains invalid characters");
    if (password.size() < 4)
        return QStringLiteral("password is shorter than 4 characters");
    if (password.size() > 128)
        return QStringLiteral("password is longer than 128 bytes");
    if (requireNameAndEmail || !fullName.isEmpty()) {
        if (fullName.contains(u'\'') || fullName.contains(u'&') || hasControl(fullName))
            return QStringLiteral("name contains invalid characters");
        if (fullName.size() < 3)
            return QStringLiteral("name is shorter than 3 characters");
        if (fullName.size() > 100)
            return QStringLiteral("name is longer than 100 characters");
    }
    if (requireNameAndEmail || !email.isEmpty()) {
        if (email.contains(u'\'') || email.contains(u'&') || hasControl(email))
            return QStringLiteral("e-mail address contains invalid characters");
        if (!email.contains(u'@') || !email.contains(u'.') || email.size() < 4 || email.size() > 200)
            return QStringLiteral("invalid e-mail address");
    }
    return {};
}

DirectoryService::DirectoryService(MemberStore& store, const Clock& clock, Options options, Logger log)
    : m_store(store), m_clock(clock), m_options(std::move(options)), m_log(std::move(log)),
      m_failuresByAddress(clock, m_options.failedLogonsPerAddress, m_options.failedLogonWindowMs),
      m_failuresByAccount(clock, m_options.failedLogonsPerAccount, m_options.failedLogonWindowMs),
      m_registrations(clock, m_options.registrationsPerAddress, m_options.registrationWindowMs),
      m_invitationsFrom(clock, m_options.invitationsPerMember, m_options.invitationWindowMs),
      m_invitationsTo(clock, m_options.invitationsPerMember, m_options.invitationWindowMs)
{
    for (QString& d : m_options.domains)
        d = d.trimmed().toLower();
    m_options.domains.removeAll(QString());
    quint64 noise[2];
    QRandomGenerator::system()->fillRange(noise);
    m_dummyHash = passwords::hash(QByteArray(reinterpret_cast<const char*>(noise), sizeof noise).toHex(),
                                  m_options.hashLimits);
}

QString DirectoryService::storeProblem(const char* what) const
{
    // Into the request's own log line; the store's text names no password.
    return QLatin1String(what) + QLatin1String(": ") + m_store.lastError();
}

Reply DirectoryService::storeDown() const { return ok("DB DOWN", storeProblem("database unavailable")); }

void DirectoryService::log(const QString& line) const
{
    if (m_log)
        m_log(line);
}

QString DirectoryService::publicAddress(const QString& remoteAddress)
{
    static const QString mapped = QStringLiteral("::ffff:");
    if (remoteAddress.startsWith(mapped, Qt::CaseInsensitive) && remoteAddress.contains(u'.'))
        return remoteAddress.mid(mapped.size());
    return remoteAddress;
}

bool DirectoryService::isOnline(const Member& member) const
{
    return member.online && member.port > 0 &&
           m_clock.nowMs() - member.lastLogonMs < m_options.presenceTimeoutMs;
}

bool DirectoryService::isOnline(const QString& name)
{
    Member m;
    return m_store.find(name, &m) == MemberStore::Lookup::Found && isOnline(m);
}

DirectoryService::Auth DirectoryService::authenticate(const QString& name, const QByteArray& password,
                                                      const QString& address, Member* member, QString* why)
{
    if (m_failuresByAddress.isLimited(address)) {
        *why = QStringLiteral("failed logon: limited, too many failures from %1").arg(address);
        return Auth::Limited;
    }
    const QString key = MemberStore::keyFor(name);
    MemberStore::Lookup found = MemberStore::Lookup::Missing;
    if (!name.isEmpty())
        found = m_store.find(name, member);
    if (found == MemberStore::Lookup::Failed) {
        *why = storeProblem("database unavailable");
        return Auth::DbDown;
    }
    if (found == MemberStore::Lookup::Missing) {
        // The same work as a wrong password, so the time of the answer does
        // not tell which names exist.
        ++m_fullVerifications;
        passwords::verify(m_dummyHash, password);
        m_failuresByAddress.record(address);
        *why = QStringLiteral("failed logon: no such member");
        return Auth::User;
    }
    // A member's own address (where it is online now) is not locked out by
    // others guessing its password elsewhere; that address still has its
    // own limit.
    const bool atHome = isOnline(*member) && member->address == address;
    if (!atHome && m_failuresByAccount.isLimited(key)) {
        *why = QStringLiteral("failed logon: limited, too many failures for %1").arg(member->name);
        return Auth::Limited;
    }
    const QByteArray proof = m_proofKey.proof(key, password);
    {
        std::shared_lock lock(m_sessionLock);
        const auto it = m_sessions.constFind(key);
        // A proof only counts against the hash it was made for: a password
        // changed in the store needs the full check again.
        if (it != m_sessions.cend() && it->passwordHash == member->passwordHash &&
            sodium_memcmp(it->proof.constData(), proof.constData(), size_t(proof.size())) == 0)
            return Auth::Ok;
    }
    ++m_fullVerifications;
    if (!passwords::verify(member->passwordHash, password)) {
        m_failuresByAddress.record(address);
        m_failuresByAccount.record(key);
        *why = QStringLiteral("failed logon: wrong password");
        return Auth::Pass;
    }
    std::unique_lock lock(m_sessionLock);
    m_sessions.insert(key, {member->passwordHash, proof});
    return Auth::Ok;
}

std::optional<QByteArray> DirectoryService::sessionHash(const QString& name, const QByteArray& password,
                                                        const QString& address)
{
    if (name.isEmpty() || m_failuresByAddress.isLimited(address))
        return std::nullopt;
    const QString key = MemberStore::keyFor(name);
    if (m_failuresByAccount.isLimited(key))
        return std::nullopt;
    const QByteArray proof = m_proofKey.proof(key, password);
    std::shared_lock lock(m_sessionLock);
    const auto it = m_sessions.constFind(key);
    if (it == m_sessions.cend() ||
        sodium_memcmp(it->proof.constData(), proof.constData(), size_t(proof.size())) != 0)
        return std::nullopt;
    return it->passwordHash;
}

Reply DirectoryService::refusal(Auth auth, const QString& why)
{
    switch (auth) {
    case Auth::User:
        return ok("USER", why);
    case Auth::Pass:
    case Auth::Limited:
        // Nothing new for the client: a limited attempt reads as a wrong password.
        return ok("PASS", why);
    case Auth::DbDown:
    case Auth::Ok:
        break;
    }
    return ok("DB DOWN", why);
}

Reply DirectoryService::registerMember(const Params& params, const QString& remoteAddress)
{
    const QString address = publicAddress(remoteAddress);
    const QString full = params.text(QStringLiteral("u"));
    const QByteArray password = params.bytes(QStringLiteral("p"));
    const QString fullName = params.text(QStringLiteral("n"));
    const QString email = params.text(QStringLiteral("e"));
    // Refusals are words with status 200, as for the logon: an HTTP error
    // would reach the user as an error text holding the whole request.
    if (full.isEmpty() || password.isEmpty() || fullName.isEmpty() || email.isEmpty())
        return ok(kBad, QStringLiteral("registration refused: a field is missing"));

    QString domain;
    for (const QString& d : std::as_const(m_options.domains)) {
        if (full.endsWith(u'.' + d, Qt::CaseInsensitive)) {
            domain = d;
            break;
        }
    }
    if (domain.isEmpty())
        return ok("NA", QStringLiteral("registration refused: domain not offered"));
    const QString user = full.left(full.size() - domain.size() - 1);
    const QString problem = checkNewMember(user, password, fullName, email, true);
    if (!problem.isEmpty())
        return ok(kBad, QStringLiteral("registration refused: %1").arg(problem));

    Member existing;
    switch (m_store.find(full, &existing)) {
    case MemberStore::Lookup::Failed:
        return storeDown();
    case MemberStore::Lookup::Found:
        return ok("USERNAME IN USE");
    case MemberStore::Lookup::Missing:
        break;
    }
    if (m_registrations.isLimited(address))
        return ok("NA", QStringLiteral("registration refused: limited, %1 accounts from %2 within %3 min")
                            .arg(m_registrations.limit())
                            .arg(address)
                            .arg(m_options.registrationWindowMs / 60000));

    Member m;
    m.name = user + u'.' + domain;
    m.domain = domain;
    m.email = email;
    m.fullName = fullName;
    m.adult = params.text(QStringLiteral("a")).compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    m.createdMs = m_clock.nowMs();
    m.passwordHash = passwords::hash(password, m_options.hashLimits);
    if (m.passwordHash.isEmpty())
        return ok("BUSY", QStringLiteral("registration failed: password hashing failed (out of memory?)"));
    switch (m_store.add(m)) {
    case MemberStore::AddResult::Created:
        m_registrations.record(address);
        return ok("ACCOUNT CREATED", QStringLiteral("member %1 registered").arg(m.name));
    case MemberStore::AddResult::NameInUse:
        return ok("USERNAME IN USE");
    case MemberStore::AddResult::EmailInUse:
        return ok("EMAIL IN USE");
    case MemberStore::AddResult::Failed:
        break;
    }
    return storeDown();
}

Reply DirectoryService::presenceReply(const QString& address, int port)
{
    return ok(address.toLatin1() + ':' + QByteArray::number(port));
}

Reply DirectoryService::logon(const Params& params, const QString& remoteAddress)
{
    const QString name = params.text(QStringLiteral("u"));
    const int port = portOf(params.text(QStringLiteral("i")));
    if (!name.isEmpty() && port == 0)
        return bad(QStringLiteral("logon refused: no port in i"));
    const QString address = publicAddress(remoteAddress);
    const QByteArray password = params.bytes(QStringLiteral("p"));
    // A relogon with the proof of an earlier full check writes its presence
    // on the condition that the stored hash is unchanged: one statement, no
    // read. Anything else (limits, no session, a changed hash) takes the full way.
    if (const std::optional<QByteArray> hash = sessionHash(name, password, address)) {
        switch (m_store.setPresenceIfHash(name, *hash, address, port, m_clock.nowMs())) {
        case MemberStore::Write::Written:
            return presenceReply(address, port);
        case MemberStore::Write::Failed:
            return ok("DB DOWN", storeProblem("database cannot be written"));
        case MemberStore::Write::NotWritten:
            break;
        }
    }
    return logonFully(name, password, address, port);
}

void DirectoryService::logon(const Params& params, const QString& remoteAddress, Answer answer,
                             const Runner& elsewhere)
{
    const QString name = params.text(QStringLiteral("u"));
    const int port = portOf(params.text(QStringLiteral("i")));
    if (!name.isEmpty() && port == 0)
        return answer(bad(QStringLiteral("logon refused: no port in i")));
    const QString address = publicAddress(remoteAddress);
    const QByteArray password = params.bytes(QStringLiteral("p"));
    const std::optional<QByteArray> hash = sessionHash(name, password, address);
    if (!hash)
        return elsewhere([this, name, password, address, port, answer = std::move(answer)] {
            answer(logonFully(name, password, address, port));
        });
    m_store.setPresenceLater(
        name, *hash, address, port, m_clock.nowMs(),
        [this, name, password, address, port, answer = std::move(answer), elsewhere](MemberStore::Write write,
                                                                                     const QString& error) {
            switch (write) {
            case MemberStore::Write::Written:
                return answer(presenceReply(address, port));
            case MemberStore::Write::Failed:
                return answer(ok("DB DOWN", QLatin1String("database cannot be written: ") + error));
            case MemberStore::Write::NotWritten:
                break;
            }
            elsewhere([this, name, password, address, port, answer] {
                answer(logonFully(name, password, address, port));
            });
        });
}

Reply DirectoryService::logonFully(const QString& name, const QByteArray& password, const QString& address,
                                   int port)
{
    Member member;
    QString why;
    const Auth auth = authenticate(name, password, address, &member, &why);
    if (auth != Auth::Ok)
        return refusal(auth, why);
    if (!m_store.setPresence(member.name, address, port, m_clock.nowMs())) {
        return ok("DB DOWN", storeProblem("database cannot be written"));
    }
    return presenceReply(address, port);
}

Reply DirectoryService::logoff(const Params& params, const QString& remoteAddress)
{
    Member member;
    QString why;
    const Auth auth = authenticate(params.text(QStringLiteral("u")), params.bytes(QStringLiteral("p")),
                                   publicAddress(remoteAddress), &member, &why);
    if (auth != Auth::Ok)
        return refusal(auth, why);
    {
        // The session ends here: the next logon pays the full check again.
        std::unique_lock lock(m_sessionLock);
        m_sessions.remove(MemberStore::keyFor(member.name));
    }
    if (!m_store.setOffline(member.name)) {
        return ok("DB DOWN", storeProblem("database cannot be written"));
    }
    return ok("OK");
}

Reply DirectoryService::askChat(const Params& params, const QString& remoteAddress)
{
    const QString invited = params.text(QStringLiteral("s"));
    const QByteArray sender = params.bytes(QStringLiteral("f"));
    if (invited.isEmpty() || !validSenderDescriptor(sender))
        return bad(QStringLiteral("chat request refused: malformed"));
    // "_" + address + ":" + port + "_" + name
    const qsizetype second = sender.indexOf('_', 1);
    const QString senderHost = QString::fromUtf8(sender.mid(1, second - 1));
    const QString senderAddress = senderHost.left(senderHost.lastIndexOf(u':'));
    const int senderPort = portOf(senderHost);
    const QString senderName = QString::fromUtf8(sender.mid(second + 1));
    const QString what =
        QStringLiteral("chat request from %1 for %2").arg(printable(senderName), printable(invited));
    const Reply plain = ok("OK");

    // Relayed only for a sender that is online where the descriptor says,
    // and asks from there: nobody sends requests in another member's name.
    Member from;
    switch (m_store.find(senderName, &from)) {
    case MemberStore::Lookup::Failed:
        return storeDown();
    case MemberStore::Lookup::Missing:
        return ok(plain.body, what + QLatin1String(" not relayed: no such sender"));
    case MemberStore::Lookup::Found:
        break;
    }
    if (!isOnline(from) || from.address != senderAddress || from.port != senderPort ||
        publicAddress(remoteAddress) != from.address)
        return ok(plain.body, what + QLatin1String(" not relayed: sender not online at that address"));

    Member to;
    switch (m_store.find(invited, &to)) {
    case MemberStore::Lookup::Failed:
        return storeDown();
    case MemberStore::Lookup::Missing:
        return ok(plain.body, what + QLatin1String(" not relayed: no such member"));
    case MemberStore::Lookup::Found:
        break;
    }
    if (!isOnline(to))
        return ok(plain.body, what + QLatin1String(" not relayed: not online"));
    if (!m_invitationsFrom.tryTake(MemberStore::keyFor(from.name)))
        return ok(plain.body, what + QLatin1String(" not relayed: limited, too many from the sender"));
    if (!m_invitationsTo.tryTake(MemberStore::keyFor(to.name)))
        return ok(plain.body, what + QLatin1String(" not relayed: limited, too many for the member"));
    Reply redirect{302, plain.body, {}, what + QLatin1String(" relayed")};
    redirect.location =
        "http://" + to.address.toLatin1() + ':' + QByteArray::number(to.port) + "/CHATREQUEST" + sender;
    return redirect;
}

} // namespace directory
