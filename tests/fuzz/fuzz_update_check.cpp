// The directory's answer to the update check, as any server on the way may
// shape it: a version is offered only when it is a version text and newer by
// number (the whole part first, then the digits after the point as a fraction).

#include "FuzzCheck.h"
#include "shell/UpdateCheck.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace {
// Newer by number, worked out apart from the code under test: leading zeros
// of the whole part do not count, the fraction is compared digit by digit.
bool newer(const QString& offered, const QString& running)
{
    const auto split = [](const QString& v) {
        const qsizetype dot = v.indexOf(u'.');
        QString whole = v.left(dot);
        while (whole.size() > 1 && whole.startsWith(u'0'))
            whole.remove(0, 1);
        return std::pair{whole, v.mid(dot + 1)};
    };
    auto [ow, of] = split(offered);
    auto [rw, rf] = split(running);
    if (ow.size() != rw.size())
        return ow.size() > rw.size();
    if (ow != rw)
        return ow > rw;
    const qsizetype n = std::max(of.size(), rf.size());
    return of.leftJustified(n, u'0') > rf.leftJustified(n, u'0');
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray response(reinterpret_cast<const char*>(bytes), qsizetype(size));
    for (const QString& running : {QStringLiteral("1.01"), QString()}) {
        const std::optional<updatecheck::NewVersion> v = updatecheck::parse(response, running);
        if (v && (!updatecheck::isVersion(v->version) || v->version.size() < 4 ||
                  (!running.isEmpty() && !newer(v->version, running))))
            FUZZ_CHECK(false);
    }
    return 0;
}
