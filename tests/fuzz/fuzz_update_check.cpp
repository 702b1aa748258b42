// The directory's answer to the update check, as any server on the way may
// shape it: a version is offered only when it is four characters and newer.

#include "FuzzCheck.h"
#include "shell/UpdateCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    const QByteArray response(reinterpret_cast<const char*>(bytes), qsizetype(size));
    for (const QString& running : {QStringLiteral("1.01"), QString()}) {
        const std::optional<updatecheck::NewVersion> v = updatecheck::parse(response, running);
        if (v && (v->version.size() != 4 || v->version <= running))
            FUZZ_CHECK(false);
    }
    return 0;
}
