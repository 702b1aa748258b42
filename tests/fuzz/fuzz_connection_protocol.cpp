// What a peer sends the camera server: cut into pieces by the collector, each
// piece classified and answered. The first byte picks how the rest arrives
// (the reads' sizes); the same bytes are fed once whole and once byte by byte.

#include "FuzzCheck.h"
#include "server/ConnectionProtocol.h"

#include <cstdint>

namespace {

struct Fed
{
    QList<request::Piece> pieces;
    QByteArray pending; // bytes still waiting for more
    bool overflow = false;
};

Fed feed(QByteArrayView data, qsizetype readSize)
{
    request::Collector c;
    Fed out;
    QByteArray seen;
    for (qsizetype at = 0; at < data.size() && !c.overflow(); at += readSize) {
        const QByteArrayView read = data.sliced(at, qMin(readSize, data.size() - at));
        seen += read;
        out.pieces += c.feed(read);
        // One request, or one stray piece, never holds more than this.
        FUZZ_CHECK(c.overflow() ||
                   c.pending() <= request::Collector::MaxHeader + request::Collector::MaxBody);
    }
    out.overflow = c.overflow();
    if (out.overflow)
        return out;
    QByteArray joined;
    for (const request::Piece& p : std::as_const(out.pieces))
        joined += p.data;
    // Nothing lost, nothing made up: the pieces and what waits are the stream.
    FUZZ_CHECK(joined.size() + c.pending() == seen.size() && seen.startsWith(joined));
    out.pending = seen.sliced(joined.size());
    out.pieces += c.flush();
    return out;
}

void answer(const request::Piece& p, bool chatDisabled)
{
    switch (request::classify(p.data, chatDisabled)) {
    case request::Kind::Diag:
        request::diagEcho(p.data);
        break;
    case request::Kind::ChatAccept:
        request::chatAcceptName(p.data);
        break;
    case request::Kind::ChatRequest:
        request::chatRequestString(p.data);
        break;
    default:
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    if (size < 1)
        return 0;
    const bool chatDisabled = bytes[0] & 0x80;
    const qsizetype readSize = 1 + (bytes[0] & 0x7f);
    const QByteArrayView data(reinterpret_cast<const char*>(bytes + 1), qsizetype(size - 1));

    const Fed reads = feed(data, readSize);
    for (const request::Piece& p : reads.pieces)
        answer(p, chatDisabled);

    const Fed whole = feed(data, qMax<qsizetype>(1, data.size()));
    // A request that arrives byte by byte gets the one answer it gets whole.
    if (!whole.overflow && whole.pieces.size() == 1 && whole.pieces.first().http) {
        const Fed single = feed(data, 1);
        FUZZ_CHECK(!single.overflow && single.pieces.size() == 1);
        const request::Piece& a = whole.pieces.first();
        const request::Piece& b = single.pieces.first();
        FUZZ_CHECK(b.http && a.data == b.data && a.head == b.head && a.close == b.close);
    }
    return 0;
}
