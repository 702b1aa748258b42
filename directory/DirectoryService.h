#pragma once
// What the directory service answers, apart from HTTP: registration, logon,
// logoff and chat invitations. Thread-safe; the HTTP front calls it from its
// worker threads.

#include "Clock.h"
#include "MemberStore.h"
#include "Passwords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <shared_mutex>
#include <string_view>

namespace directory {

class ChatDelivery;

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
    bool operator==(const Reply&) const = default;
};

// The service's defaults for the two account domains.
QStringList defaultDomains();

// Checks a new member's fields; returns an empty text when they are fine, else
// why not. The same rules as the registration wizard, plus what would make the
// account unusable (control characters, blanks in the password that a raw
// logon request cannot carry, lengths the store is not made for).
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
    };

    DirectoryService(MemberStore& store, const Clock& clock, ChatDelivery* delivery, Options options,
                     Logger log = {});

    Reply registerMember(const Params& params);
    Reply logon(const Params& params, const QString& remoteAddress);
    Reply logoff(const Params& params);
    Reply askChat(const Params& params);

    // Online: logged on, not logged off, and last logon within the time-out.
    bool isOnline(const Member& member) const;
    bool isOnline(const QString& name);

    // "::ffff:198.51.100.7" -> "198.51.100.7".
    static QString publicAddress(const QString& remoteAddress);

    // How many full (Argon2id) verifications ran; relogons should not add to it.
    quint64 fullVerifications() const { return m_fullVerifications.load(); }

private:
    enum class Auth { Ok, User, Pass, DbDown };
    Auth authenticate(const QString& name, const QByteArray& password, Member* member);
    void log(const QString& line) const;
    // Logs why the store failed; the answer to give is "DB DOWN".
    void logStoreDown() const;
    Reply storeDown() const;

    struct Session
    {
        QByteArray passwordHash; // the stored hash the proof was made against
        QByteArray proof;
    };

    MemberStore& m_store;
    const Clock& m_clock;
    ChatDelivery* m_delivery;
    Options m_options;
    Logger m_log;
    ProofKey m_proofKey;
    std::shared_mutex m_sessionLock;
    QHash<QString, Session> m_sessions;
    std::atomic<quint64> m_fullVerifications{0};
};

} // namespace directory
