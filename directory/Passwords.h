#pragma once
// Password hashing (Argon2id through libsodium) and the cheap proof that lets a
// member's periodic relogon skip Argon2id once a full verification succeeded.

#include <QByteArray>
#include <QString>

namespace directory {

struct HashLimits
{
    unsigned long long opsLimit;
    size_t memLimit;
    // 3 passes over 12 MiB: about 50 ms per hash on a small machine.
    static HashLimits interactive();
    // Cheapest limits libsodium accepts; for filling benchmark databases only.
    static HashLimits minimal();
};

namespace passwords {
// Initialises libsodium; safe to call more than once, from any thread.
bool init();
// Argon2id hash string, or an empty array when hashing failed (out of memory).
QByteArray hash(const QByteArray& password, const HashLimits& limits = HashLimits::interactive());
bool verify(const QByteArray& hashString, const QByteArray& password);
} // namespace passwords

// Keyed BLAKE2b of (member, password) with a key made fresh for each process:
// what a successful Argon2id verification proved, without keeping the password.
class ProofKey
{
public:
    ProofKey();
    QByteArray proof(const QString& memberKey, const QByteArray& password) const;

private:
    unsigned char m_key[32];
};

} // namespace directory
