#include "capture/AviRepair.h"

#include "capture/AviFile.h"

#include <QtEndian>

#include <algorithm>

using namespace avi;

namespace {

quint32 u32(const char* p) { return qFromLittleEndian<quint32>(p); }

// Where a chunk of `size` bytes starting at `pos` ends, padding included.
// 64 bits: a crafted size near 4 GiB must not wrap back to `pos`.
qint64 chunkEnd(qint64 pos, quint32 size) { return pos + 8 + qint64(size) + (size & 1); }

struct FoundBlock
{
    Block block;
    qint64 idx1 = -1;      // the first block's old index, when it has one
    QList<qint64> indexAt; // "ix##" chunk per stream, -1 when none
};

// `roomless`: super indexes with room for no entry, to be marked empty.
bool readHeader(QFile& f, qint64 hdrlData, qint64 hdrlEnd, HeaderSpots& spots, QList<qint64>& roomless)
{
    for (qint64 pos = hdrlData; pos + 8 <= hdrlEnd;) {
        char h[12] = {};
        if (!readAt(f, pos, h, pos + 12 <= hdrlEnd ? 12 : 8))
            break;
        const quint32 id = u32(h), size = u32(h + 4);
        const qint64 next = chunkEnd(pos, size);
        const qint64 end = qMin(next, hdrlEnd);
        if (id == fourcc("avih") && size >= 40 && pos + 8 + 40 <= hdrlEnd) {
            spots.avih = pos + 8;
        } else if (id == fourcc("LIST") && (u32(h + 8) == fourcc("strl") || u32(h + 8) == fourcc("odml"))) {
            const bool strl = u32(h + 8) == fourcc("strl");
            StreamSpots stream;
            for (qint64 p = pos + 12; p + 8 <= end;) {
                char s[8];
                if (!readAt(f, p, s, 8))
                    break;
                const quint32 sid = u32(s), ssize = u32(s + 4);
                if (p + 8 + qint64(ssize) > end)
                    return false; // claims more than its list holds
                if (strl && sid == fourcc("strh") && ssize >= 48) {
                    stream.strh = p + 8;
                    char ss[4];
                    stream.sampleSize = readAt(f, p + 8 + 44, ss, 4) ? u32(ss) : 0;
                } else if (strl && sid == fourcc("indx") && ssize >= 24 + 16) {
                    stream.indx = p + 8;
                    stream.indxCapacity = int(qMin<quint32>((ssize - 24) / 16, 1u << 20));
                } else if (strl && sid == fourcc("indx") && ssize >= 8) {
                    roomless.append(p + 8);
                } else if (!strl && sid == fourcc("dmlh") && ssize >= 4) {
                    spots.dmlh = p + 8;
                }
                p = chunkEnd(p, ssize);
            }
            if (strl && stream.strh >= 0)
                spots.streams.append(stream);
        }
        if (next > hdrlEnd + 1)
            return false; // claims more than the header holds
        pos = next;
    }
    return spots.avih >= 0 && !spots.streams.isEmpty();
}

// Larger than any frame or sound chunk the recorder writes, by far: a size
// beyond it is damage, not a chunk the disk could not take whole.
constexpr quint32 MaxChunk = 64 * 1024 * 1024;

// The movie blocks as far as they were written completely. `damagedAt` is
// set where a chunk claims a size no torn write leaves.
QList<FoundBlock> walkBlocks(QFile& f, qint64 fileSize, qint64 moviList, int streams, qint64& damagedAt)
{
    QList<FoundBlock> blocks;
    FoundBlock first;
    first.block = {0, moviList, {}};
    first.indexAt = QList<qint64>(streams, -1);
    blocks.append(first);
    qint64 pos = moviList + 12;
    while (pos + 8 <= fileSize) {
        char h[8];
        if (!readAt(f, pos, h, 8))
            break;
        const quint32 id = u32(h), size = u32(h + 4);
        if (id == fourcc("RIFF")) {
            char x[16];
            if (pos + 24 > fileSize || !readAt(f, pos + 8, x, 16) || u32(x) != fourcc("AVIX") ||
                u32(x + 4) != fourcc("LIST") || u32(x + 12) != fourcc("movi"))
                break;
            FoundBlock next;
            next.block = {pos, pos + 12, {}};
            next.indexAt = QList<qint64>(streams, -1);
            blocks.append(next);
            pos += 24;
            continue;
        }
        if (id == fourcc("LIST")) {
            pos += 12; // a "rec " group: its chunks follow
            continue;
        }
        const qint64 next = chunkEnd(pos, size);
        const bool printable = std::all_of(h, h + 4, [](char c) { return c >= 0x20 && c < 0x7f; });
        if ((id != 0 && next > fileSize && size > MaxChunk) || (!printable && fileSize - pos > MaxChunk))
            damagedAt = pos;
        if (!printable)
            break;
        if (id == 0 || next > fileSize)
            break; // unwritten or half-written
        FoundBlock& current = blocks.last();
        const int s = streamOf(id);
        if (s >= 0 && s < streams) {
            current.block.chunks.append({id, pos, size});
        } else if (id == fourcc("idx1")) {
            if (blocks.size() == 1)
                current.idx1 = pos;
        } else if ((id & 0xffff) == (fourcc("ix00") & 0xffff)) {
            const int is = streamOf(id >> 16);
            if (is >= 0 && is < streams)
                current.indexAt[is] = pos;
        }
        pos = next;
    }
    // A block begun but holding nothing yet is no block.
    while (blocks.size() > 1 && blocks.last().block.chunks.isEmpty())
        blocks.removeLast();
    return blocks;
}

qint64 dataEnd(const Block& b)
{
    return b.chunks.isEmpty() ? b.movi + 12 : chunkEnd(b.chunks.last().pos, b.chunks.last().size);
}

// Room the indexes of the last block take.
qint64 indexRoom(const HeaderSpots& spots, const Block& b, bool first)
{
    qint64 room = first ? 8 + 16 * qint64(b.chunks.size()) : 0;
    for (int s = 0; s < spots.streams.size(); ++s) {
        if (spots.streams.at(s).indx >= 0)
            room += 32 + 8 * qint64(b.chunks.size());
    }
    return room;
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
    if (!readAt(f, 0, head, 12) || u32(head) != fourcc("RIFF") || u32(head + 8) != fourcc("AVI ")) {
        r.error = QStringLiteral("Not an AVI file");
        return r;
    }

    // Top level of the first block: the header list and the movie list.
    qint64 hdrlData = -1, hdrlEnd = -1, moviList = -1;
    for (qint64 pos = 12; pos + 12 <= fileSize;) {
        char h[12];
        if (!readAt(f, pos, h, 12))
            break;
        const quint32 id = u32(h), size = u32(h + 4), type = u32(h + 8);
        if (id == fourcc("LIST") && type == fourcc("hdrl")) {
            hdrlData = pos + 12;
            hdrlEnd = qMin(pos + 8 + qint64(size), fileSize);
        } else if (id == fourcc("LIST") && type == fourcc("movi")) {
            moviList = pos;
            break;
        }
        pos = chunkEnd(pos, size);
    }
    if (hdrlData < 0 || moviList < 0) {
        r.error = QStringLiteral("No AVI header or no movie data");
        return r;
    }
    HeaderSpots spots;
    QList<qint64> roomless;
    if (!readHeader(f, hdrlData, hdrlEnd, spots, roomless)) {
        r.error = QStringLiteral("Damaged AVI header");
        return r;
    }
    // Players stall on a file whose streams are indexed apart, some per
    // block and some only in the old index: with one super index unusable,
    // none is filled, and the old index serves them all.
    if (!roomless.isEmpty()) {
        for (StreamSpots& st : spots.streams) {
            if (st.indx >= 0)
                roomless.append(st.indx);
            st.indx = -1;
        }
    }
    const int streams = int(spots.streams.size());

    qint64 damagedAt = -1;
    QList<FoundBlock> found = walkBlocks(f, fileSize, moviList, streams, damagedAt);
    if (damagedAt >= 0) {
        r.error = QStringLiteral("Damaged movie data at byte %1").arg(damagedAt);
        return r;
    }
    // Earlier blocks are kept as they are; each needs its own indexes for the
    // super index to reach it. One without them ends the file there.
    for (int b = 0; b + 1 < found.size(); ++b) {
        bool indexed = true;
        for (int s = 0; s < streams; ++s) {
            const bool has = std::any_of(found[b].block.chunks.cbegin(), found[b].block.chunks.cend(),
                                         [s](const Chunk& c) { return streamOf(c.id) == s; });
            if (has && spots.streams[s].indx >= 0 && found[b].indexAt[s] < 0)
                indexed = false;
        }
        if (!indexed) {
            found.resize(b + 1);
            break;
        }
    }
    // A super index holds so many blocks; what lies beyond it cannot be reached.
    for (const StreamSpots& st : spots.streams) {
        if (st.indx >= 0 && found.size() > st.indxCapacity)
            found.resize(qMax(1, st.indxCapacity));
    }

    QList<QList<IndexEntry>> superIndex(streams);
    QList<Block> blocks;
    bool ok = true;
    for (int b = 0; b + 1 < found.size(); ++b) {
        const FoundBlock& fb = found.at(b);
        const qint64 nextRiff = found.at(b + 1).block.riff;
        const qint64 listEnd = fb.idx1 >= 0 ? fb.idx1 : nextRiff;
        ok = ok && writeU32(f, fb.block.movi + 4, quint32(listEnd - fb.block.movi - 8));
        ok = ok && writeU32(f, fb.block.riff + 4, quint32(nextRiff - fb.block.riff - 8));
        for (int s = 0; s < streams; ++s) {
            if (fb.indexAt[s] < 0)
                continue;
            char ix[12];
            const quint32 size = readAt(f, fb.indexAt[s], ix, 8) ? u32(ix + 4) : 0;
            quint64 units = 0;
            for (const Chunk& c : fb.block.chunks) {
                if (streamOf(c.id) == s)
                    units += spots.streams[s].sampleSize ? c.size : 1;
            }
            if (spots.streams[s].sampleSize)
                units /= spots.streams[s].sampleSize;
            superIndex[s].append({fb.indexAt[s], size + 8, quint32(units)});
        }
        blocks.append(fb.block);
    }

    // The last block: cut after its last complete chunk and close it.
    Block last = found.last().block;
    const bool lastIsFirst = found.size() == 1;
    const qint64 writtenEnd = fileSize;
    qint64 end = -1;
    QList<QList<IndexEntry>> withLast;
    for (int attempt = 0; attempt < 3 && end < 0; ++attempt) {
        if (attempt > 0) {
            // The disk is full: give up the last chunks to make room for the index.
            const qint64 room = indexRoom(spots, last, lastIsFirst);
            while (!last.chunks.isEmpty() && dataEnd(last) + room > writtenEnd - 64 * attempt)
                last.chunks.removeLast();
            r.framesDropped = true;
        }
        if (!f.resize(dataEnd(last))) {
            r.error = f.errorString();
            return r;
        }
        withLast = superIndex;
        end = closeBlock(f, spots, last, lastIsFirst, dataEnd(last), withLast);
    }
    if (end < 0) {
        // Not even that fits: the data without an index (players scan it).
        f.resize(dataEnd(last));
        end = dataEnd(last);
        withLast = superIndex;
        ok = ok && writeU32(f, last.movi + 4, quint32(end - last.movi - 8));
        ok = ok && writeU32(f, last.riff + 4, quint32(end - last.riff - 8));
    } else {
        r.indexWritten = true;
    }
    blocks.append(last);

    char flagsBuf[4];
    quint32 flags = readAt(f, spots.avih + 12, flagsBuf, 4) ? u32(flagsBuf) : 0;
    if (r.indexWritten || blocks.size() > 1)
        flags |= 0x10; // has index
    else
        flags &= ~quint32(0x10 | 0x20); // neither has nor must use an index
    ok = ok && writeU32(f, spots.avih + 12, flags);
    // Players would read entries past the end of such an index; the old one
    // (idx1) serves instead.
    for (const qint64 at : roomless)
        ok = ok && writeU32(f, at + 4, 0);
    ok = ok && writeHeaders(f, spots, blocks, withLast);
    if (!ok) {
        r.error = f.errorString();
        return r;
    }
    for (const Block& b : blocks) {
        for (const Chunk& c : b.chunks) {
            const int s = streamOf(c.id);
            if (s == 0)
                ++r.videoFrames;
            else if (s == 1)
                ++r.audioChunks;
        }
    }
    r.blocks = int(blocks.size());
    r.ok = true;
    return r;
}
