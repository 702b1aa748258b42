#include "capture/AviFile.h"

#include <QtEndian>

namespace avi {

namespace {

quint32 indexId(int stream)
{
    return (fourcc("ix00") & 0x0000ffff) | quint32('0' + stream / 10) << 16 |
           quint32('0' + stream % 10) << 24;
}
} // namespace

int streamOf(quint32 id)
{
    const char c0 = char(id & 0xff), c1 = char((id >> 8) & 0xff);
    if (c0 < '0' || c0 > '9' || c1 < '0' || c1 > '9')
        return -1;
    return (c0 - '0') * 10 + (c1 - '0');
}

bool readAt(QFile& f, qint64 pos, char* buf, qint64 len) { return f.seek(pos) && f.read(buf, len) == len; }

bool writeU32(QFile& f, qint64 pos, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    return f.seek(pos) && f.write(b, 4) == 4;
}

qint64 closeBlock(QFile& f, const HeaderSpots& spots, const Block& block, bool first, qint64 end,
                  QList<QList<IndexEntry>>& superIndex)
{
    superIndex.resize(spots.streams.size());
    QByteArray inside; // standard indexes, at the end of the movie list
    QList<IndexEntry> added(spots.streams.size(), IndexEntry{-1, 0, 0});
    for (int s = 0; s < spots.streams.size(); ++s) {
        const StreamSpots& st = spots.streams.at(s);
        if (st.indx < 0)
            continue; // no super index to point at it
        QList<const Chunk*> mine;
        quint64 bytes = 0;
        for (const Chunk& c : block.chunks) {
            if (streamOf(c.id) == s) {
                mine.append(&c);
                bytes += c.size;
            }
        }
        if (mine.isEmpty())
            continue;
        if (superIndex[s].size() >= st.indxCapacity)
            return -1;
        const qint64 at = end + inside.size();
        put32(inside, indexId(s));
        put32(inside, quint32(24 + 8 * mine.size()));
        put16(inside, 2);       // longs per entry
        inside.append(char(0)); // sub type
        inside.append(char(1)); // index of chunks
        put32(inside, quint32(mine.size()));
        put32(inside, mine.first()->id);
        put64(inside, quint64(block.movi));
        put32(inside, 0);
        for (const Chunk* c : mine) {
            put32(inside, quint32(c->pos + 8 - block.movi));
            put32(inside, c->size); // top bit clear: every chunk is a key frame
        }
        const quint32 duration = st.sampleSize ? quint32(bytes / st.sampleSize) : quint32(mine.size());
        added[s] = {at, quint32(32 + 8 * mine.size()), duration};
    }
    const qint64 listEnd = end + inside.size();
    QByteArray after; // idx1 of the first block, after its movie list
    if (first) {
        put32(after, fourcc("idx1"));
        put32(after, quint32(block.chunks.size() * 16));
        for (const Chunk& c : block.chunks) {
            put32(after, c.id);
            put32(after, 0x10); // key frame: every MJPEG, raw and sound chunk is one
            put32(after, quint32(c.pos - (block.movi + 8)));
            put32(after, c.size);
        }
    }
    const QByteArray tail = inside + after;
    if (!f.seek(end) || f.write(tail) != tail.size() || !f.flush())
        return -1;
    const qint64 newEnd = end + tail.size();
    if (!writeU32(f, block.movi + 4, quint32(listEnd - block.movi - 8)) ||
        !writeU32(f, block.riff + 4, quint32(newEnd - block.riff - 8)))
        return -1;
    for (int s = 0; s < added.size(); ++s) {
        if (added[s].pos >= 0)
            superIndex[s].append(added[s]);
    }
    return newEnd;
}

bool writeHeaders(QFile& f, const HeaderSpots& spots, const QList<Block>& blocks,
                  const QList<QList<IndexEntry>>& superIndex)
{
    QList<quint64> chunks(spots.streams.size(), 0), bytes(spots.streams.size(), 0);
    quint64 firstBlockFrames = 0;
    for (int b = 0; b < blocks.size(); ++b) {
        for (const Chunk& c : blocks.at(b).chunks) {
            const int s = streamOf(c.id);
            if (s < 0 || s >= spots.streams.size())
                continue;
            ++chunks[s];
            bytes[s] += c.size;
            if (b == 0 && s == 0)
                ++firstBlockFrames;
        }
    }
    bool ok = true;
    for (int s = 0; s < spots.streams.size(); ++s) {
        const StreamSpots& st = spots.streams.at(s);
        // Sound with a fixed sample size counts samples, everything else chunks.
        const quint32 length = st.sampleSize ? quint32(bytes[s] / st.sampleSize) : quint32(chunks[s]);
        ok = ok && writeU32(f, st.strh + 32, length);
        if (st.indx < 0)
            continue;
        QByteArray entries;
        const QList<IndexEntry> mine = superIndex.value(s);
        for (const IndexEntry& e : mine) {
            put64(entries, quint64(e.pos));
            put32(entries, e.size);
            put32(entries, e.duration);
        }
        ok = ok && writeU32(f, st.indx + 4, quint32(mine.size()));
        ok = ok && f.seek(st.indx + 24) && f.write(entries) == entries.size();
    }
    const quint64 frames = chunks.value(0);
    // OpenDML: the main header counts the first block, its own header all of them.
    ok = ok && writeU32(f, spots.avih + 16, quint32(spots.dmlh >= 0 ? firstBlockFrames : frames));
    if (spots.dmlh >= 0)
        ok = ok && writeU32(f, spots.dmlh, quint32(frames));
    return ok && f.flush();
}

} // namespace avi
