#include "directory/Passwords.h"

#include <algorithm>
#include <semaphore>
#include <sodium.h>
#include <thread>

namespace directory {

namespace {
// Each Argon2id run takes its memory limit in RAM; a flood of first logons on
// every worker thread at once must not take a gigabyte.
std::counting_semaphore<64>& hashSlots()
{
    static std::counting_semaphore<64> gate(
        std::clamp<std::ptrdiff_t>(std::thread::hardware_concurrency(), 1, 64));
    return gate;
}

struct SlotGuard
{
    SlotGuard() { hashSlots().acquire(); }
    ~SlotGuard() { hashSlots().release(); }
};
} // namespace

HashLimits HashLimits::interactive()
{
    // libsodium's own INTERACTIVE (64 MiB) takes about 400 ms on a small
    // machine; 3 passes over 12 MiB (a recommended Argon2id setting) take
    // about 50 ms and keep a burst of first logons affordable.
    return {3, 12u * 1024 * 1024};
}

HashLimits HashLimits::minimal() { return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN}; }

namespace passwords {

bool init()
{
    static const bool ok = sodium_init() >= 0;
    return ok;
}

QByteArray hash(const QByteArray& password, const HashLimits& limits)
{
    if (!init())
        return {};
    char out[crypto_pwhash_STRBYTES];
    SlotGuard guard;
    if (crypto_pwhash_str(out, password.constData(), quint64(password.size()), limits.opsLimit,
                          limits.memLimit) != 0)
        return {};
    return QByteArray(out);
}

bool verify(const QByteArray& hashString, const QByteArray& password)
{
    if (!init() || hashString.isEmpty() || hashString.size() >= crypto_pwhash_STRBYTES)
        return false;
    char stored[crypto_pwhash_STRBYTES] = {};
    std::copy(hashString.cbegin(), hashString.cend(), stored);
    SlotGuard guard;
    return crypto_pwhash_str_verify(stored, password.constData(), quint64(password.size())) == 0;
}

} // namespace passwords

ProofKey::ProofKey()
{
    passwords::init();
    crypto_generichash_keygen(m_key);
}

QByteArray ProofKey::proof(const QString& memberKey, const QByteArray& password) const
{
    const QByteArray member = memberKey.toUtf8();
    crypto_generichash_state state;
    crypto_generichash_init(&state, m_key, sizeof m_key, 32);
    // Length prefix keeps ("ab", "c") and ("a", "bc") apart.
    const quint32 len = quint32(member.size());
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(&len), sizeof len);
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(member.constData()),
                              size_t(member.size()));
    crypto_generichash_update(&state, reinterpret_cast<const unsigned char*>(password.constData()),
                              size_t(password.size()));
    QByteArray out(32, Qt::Uninitialized);
    crypto_generichash_final(&state, reinterpret_cast<unsigned char*>(out.data()), size_t(out.size()));
    return out;
}

} // namespace directory
