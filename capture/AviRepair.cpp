#include "capture/AviRepair.h"

#include <QFile>
#include <QList>
#include <QtEndian>

namespace {

quint32 fourcc(const char* s) { return qFromLittleEndian<quint32>(s); }

struct Chunk
{
    quint32 id;
    quint32 offset; // of the chunk's data, from the start of "movi"
    quint32 size;
};

bool readAt(QFile& f, qint64 pos, char* buf, qint64 len)
{
    return f.seek(pos) && f.read(buf, len) == len;
}

bool writeU32(QFile& f, qint64 pos, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return f.seek(pos) && f.write(b, 4) == 4;
}

// Stream number of a "##xx" chunk id, or -1.
int streamOf(quint32 id)
{
    const char c0 = char(id & 0xff), c1 = char((id >> 8) & 0xff);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9')
        return -1;
    return (c0 - '0') * 10 + (c1 - '0');
}

} // namespace

AviRepairResult repairAviFile(const QString& path)
{
    AviRepairResult r;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite)) {
        r.error = f.errorString();
        return r;
    }
    const qint64 fileSize = f.size();
    char head[12];
    if (!readAt(f, 0, head, 12) || qFromLittleEndian<quint32>(head) != fourcc("RIFF")
        || qFromLittleEndian<quint32>(head + 8) != fourcc("AVI ")) {
        r.error = QStringLiteral("Not an AVI file");
        return r;
    }

    // Top level: find "hdrl" and "movi".
    qint64 hdrlData = -1, hdrlEnd = -1, moviList = -1;
    qint64 pos = 12;
    while (pos + 12 <= fileSize) {
        char h[12];
        if (!readAt(f, pos, h, 12))
            break;
        const quint32 id = qFromLittleEndian<quint32>(h);
        const quint32 size = qFromLittleEndian<quint32>(h + 4);
        const quint32 type = qFromLittleEndian<quint32>(h + 8);
        if (id == fourcc("LIST") && type == fourcc("hdrl")) {
            hdrlData = pos + 12;
            hdrlEnd = pos + 8 + size;
        } else if (id == fourcc("LIST") && type == fourcc("movi")) {
            moviList = pos;
            break;
        }
        pos += 8 + size + (size & 1);
    }
    if (hdrlData < 0 || moviList < 0) {
        r.error = QStringLiteral("No AVI header or no movie data");
        return r;
    }

    // Header: where avih and each strh live.
    qint64 avih = -1;
    QList<qint64> strh; // data offsets, in stream order
    QList<quint32> strhSampleSize;
    for (pos = hdrlData; pos + 8 <= hdrlEnd;) {
        char h[12];
        if (!readAt(f, pos, h, 12))
            break;
        const quint32 id = qFromLittleEndian<quint32>(h);
        const quint32 size = qFromLittleEndian<quint32>(h + 4);
        if (id == fourcc("avih")) {
            avih = pos + 8;
        } else if (id == fourcc("LIST") && qFromLittleEndian<quint32>(h + 8) == fourcc("strl")) {
            // strh is the first chunk of each strl.
            char s[8];
            if (readAt(f, pos + 12, s, 8) && qFromLittleEndian<quint32>(s) == fourcc("strh")) {
                strh.append(pos + 20);
                char ss[4];
                strhSampleSize.append(readAt(f, pos + 20 + 44, ss, 4) ? qFromLittleEndian<quint32>(ss)
                                                                      : 0);
            }
        }
        pos += 8 + size + (size & 1);
    }
    if (avih < 0 || strh.isEmpty()) {
        r.error = QStringLiteral("Damaged AVI header");
        return r;
    }

    // Walk the movie data up to the last complete chunk.
    const qint64 moviData = moviList + 12;
    QList<Chunk> chunks;
    QList<quint64> perStreamChunks(strh.size(), 0), perStreamBytes(strh.size(), 0);
    pos = moviData;
    qint64 end = moviData;
    while (pos + 8 <= fileSize) {
        char h[8];
        if (!readAt(f, pos, h, 8))
            break;
        const quint32 id = qFromLittleEndian<quint32>(h);
        const quint32 size = qFromLittleEndian<quint32>(h + 4);
        const qint64 next = pos + 8 + size + (size & 1);
        if (id == 0 || next > fileSize)
            break; // unwritten or half-written
        if (id == fourcc("idx1") || id == fourcc("LIST") || id == fourcc("RIFF"))
            break; // the muxer got further than we need to go
        const int s = streamOf(id);
        if (s >= 0 && s < strh.size()) {
            chunks.append({id, quint32(pos - moviList - 8), size});
            ++perStreamChunks[s];
            perStreamBytes[s] += size;
        }
        pos = next;
        end = next;
    }

    if (!f.resize(end)) {
        r.error = f.errorString();
        return r;
    }
    bool ok = writeU32(f, moviList + 4, quint32(end - moviList - 8));
    for (int s = 0; s < strh.size(); ++s) {
        // Audio with a fixed sample size counts samples, everything else chunks.
        const quint32 length = strhSampleSize[s] ? quint32(perStreamBytes[s] / strhSampleSize[s])
                                                 : quint32(perStreamChunks[s]);
        ok = ok && writeU32(f, strh[s] + 32, length);
    }
    const quint32 frames = quint32(perStreamChunks.value(0));
    ok = ok && writeU32(f, avih + 16, frames);

    // The index, when the disk takes it; without it players scan the data.
    QByteArray idx;
    idx.reserve(8 + chunks.size() * 16);
    auto put = [&idx](quint32 v) {
        char b[4];
        qToLittleEndian(v, b);
        idx.append(b, 4);
    };
    put(fourcc("idx1"));
    put(quint32(chunks.size() * 16));
    for (const Chunk& c : chunks) {
        put(c.id);
        put(0x10); // key frame: every MJPEG, raw and audio chunk is one
        put(c.offset);
        put(c.size);
    }
    char flagsBuf[4];
    quint32 flags = readAt(f, avih + 12, flagsBuf, 4) ? qFromLittleEndian<quint32>(flagsBuf) : 0;
    qint64 riffEnd = end;
    if (f.seek(end) && f.write(idx) == idx.size() && f.flush()) {
        riffEnd = end + idx.size();
        flags |= 0x10; // has index
        r.indexWritten = true;
    } else {
        f.resize(end);
        flags &= ~quint32(0x10 | 0x20); // neither has nor must use an index
    }
    ok = ok && writeU32(f, avih + 12, flags);
    ok = ok && writeU32(f, 4, quint32(riffEnd - 8));
    ok = ok && f.flush();
    if (!ok) {
        r.error = f.errorString();
        return r;
    }
    r.ok = true;
    r.videoFrames = frames;
    r.audioChunks = strh.size() > 1 ? quint32(perStreamChunks[1]) : 0;
    return r;
}
