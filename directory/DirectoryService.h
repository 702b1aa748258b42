#pragma once
// What the directory service answers, apart from HTTP: registration, logon,
// logoff and chat invitations. Thread-safe; the HTTP front calls it from its
// worker threads.

#include "directory/Clock.h"
#include "directory/MemberStore.h"
#include "directory/Passwords.h"
#include "directory/RateLimiter.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string_view>

namespace directory {

// Query values, decoded; the first of repeated keys wins.
class Params
{
public:
    // Percent-decodes keys and values of "a=1&b=2". A "+" stays a plus: our
    // clients put values in unescaped, and a password may contain one.
    static Params fromQuery(std::string_view query);
    static Params fromQuery(const QByteArray& query)
    {
        return fromQuery(std::string_view(query.constData(), size_t(query.size())));
    }
    void set(const QString& key, const QByteArray& value);
    bool has(const QString& key) const { return m_values.contains(key); }
    QByteArray bytes(const QString& key) const { return m_values.value(key); }
    QString text(const QString& key) const { return QString::fromUtf8(m_values.value(key)); }

private:
    QHash<QString, QByteArray> m_values;
};

QByteArray percentDecode(std::string_view text);

struct Reply
{
    int status = 200;
    QByteArray body;
    QByteArray location; // for a redirect
    // What the request's log line adds (why a logon failed, where a chat
    // request went); never a password, an e-mail address or a full name.
    QString note;
};

// The service's defaults for the two account domains.
QStringList defaultDomains();

// Checks a new member's fields; returns an empty text when they are fine, else
// why not. The same rules as the registration wizard, plus what would make the
// account unusable (control characters, lengths the store is not made for).
QString checkNewMember(const QString& user, const QByteArray& password, const QString& fullName,
                       const QString& email, bool requireNameAndEmail);

class DirectoryService
{
public:
    using Logger = std::function<void(const QString&)>;
    struct Options
    {
        QStringList domains = defaultDomains();
        qint64 presenceTimeoutMs = 15 * 60 * 1000;
        HashLimits hashLimits = HashLimits::interactive();
        // Failed logons (and logoffs) before further attempts are answered
        // "PASS" unchecked, counted per address and per account.
        int failedLogonsPerAddress = 20;
        int failedLogonsPerAccount = 10;
        qint64 failedLogonWindowMs = 15 * 60 * 1000;
        // Accounts created per address; 0: no limit.
        int registrationsPerAddress = 5;
        qint64 registrationWindowMs = 60 * 60 * 1000;
        // Chat requests relayed per sender and per invited member.
        int invitationsPerMember = 10;
        qint64 invitationWindowMs = 60 * 1000;
    };

    DirectoryService(MemberStore& store, const Clock& clock, Options options, Logger log = {});

    // remoteAddress: where the request came from (the member's public address).
    Reply registerMember(const Params& params, const QString& remoteAddress = QString());
    Reply logon(const Params& params, const QString& remoteAddress);
    // The same without blocking the caller: answer runs once the reply is
    // known, here for a malformed request, on the store's writer thread once
    // a relogon's presence is written, or in elsewhere. Work that may take
    // long (a full password check: a first logon, or a relogon whose stored
    // hash changed) is handed to elsewhere, never done here or on the
    // writer thread.
    using Answer = std::function<void(Reply)>;
    using Runner = std::function<void(std::function<void()>)>;
    void logon(const Params& params, const QString& remoteAddress, Answer answer, const Runner& elsewhere);
    Reply logoff(const Params& params, const QString& remoteAddress = QString());
    // A redirect to the invited member's own server when both members are
    // online and the sender is who it says; else the plain answer.
    Reply askChat(const Params& params, const QString& remoteAddress = QString());

    // Online: logged on, not logged off, and last logon within the time-out.
    bool isOnline(const Member& member) const;
    bool isOnline(const QString& name);

    // "::ffff:198.51.100.7" -> "198.51.100.7".
    static QString publicAddress(const QString& remoteAddress);

    // How many full (Argon2id) verifications ran; relogons should not add to it.
    quint64 fullVerifications() const { return m_fullVerifications.load(); }

private:
    enum class Auth { Ok, User, Pass, Limited, DbDown };
    Auth authenticate(const QString& name, const QByteArray& password, const QString& address, Member* member,
                      QString* why);
    // The stored hash a remembered session proof for this password was made
    // against; none while limits apply or without such a session.
    std::optional<QByteArray> sessionHash(const QString& name, const QByteArray& password,
                                          const QString& address);
    // The answer for a refused logon or logoff, with its note.
    static Reply refusal(Auth auth, const QString& why);
    // A logon checked the whole way: the password against the store.
    Reply logonFully(const QString& name, const QByteArray& password, const QString& address, int port);
    static Reply presenceReply(const QString& address, int port);
    void log(const QString& line) const;
    // Why the store failed, for the request's log line.
    QString storeProblem(const char* what) const;
    Reply storeDown() const;

    struct Session
    {
        QByteArray passwordHash; // the stored hash the proof was made against
        QByteArray proof;
    };

    MemberStore& m_store;
    const Clock& m_clock;
    Options m_options;
    Logger m_log;
    ProofKey m_proofKey;
    // Checked for unknown members, so they cost what a wrong password costs.
    QByteArray m_dummyHash;
    RateLimiter m_failuresByAddress;
    RateLimiter m_failuresByAccount;
    RateLimiter m_registrations;
    RateLimiter m_invitationsFrom;
    RateLimiter m_invitationsTo;
    std::shared_mutex m_sessionLock;
    QHash<QString, Session> m_sessions;
    std::atomic<quint64> m_fullVerifications{0};
};

} // namespace directory
