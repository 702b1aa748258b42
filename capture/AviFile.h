#pragma once
// The parts of an AVI file the writer and the repair share: where the headers
// keep their counts, the movie blocks (the first RIFF "AVI " and any RIFF
// "AVIX" after it, each holding one "movi" list) and the chunks in them, and
// how a block is closed with its indexes. Files past one block follow OpenDML:
// every block carries a standard index ("ix##") per stream, and each stream
// header a super index pointing at them, so players find every frame of a
// file larger than the 32-bit idx1 of the first block can reach.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

namespace avi {

// Little-endian fields appended to a header or index being built.
inline void put16(QByteArray& b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}
inline void put32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}
inline void put64(QByteArray& b, quint64 v)
{
    char c[8];
    qToLittleEndian(v, c);
    b.append(c, 8);
}

constexpr quint32 fourcc(const char (&s)[5])
{
    return quint32(quint8(s[0])) | quint32(quint8(s[1])) << 8 | quint32(quint8(s[2])) << 16 |
           quint32(quint8(s[3])) << 24;
}

// Stream number of a "##xx" chunk id, or -1.
int streamOf(quint32 id);

struct Chunk
{
    quint32 id;
    qint64 pos;   // of the chunk header in the file
    quint32 size; // of its data
};

struct Block
{
    qint64 riff = 0; // "RIFF" header
    qint64 movi = 0; // "LIST" header of the movie list
    QList<Chunk> chunks;
};

struct StreamSpots
{
    qint64 strh = -1;       // data of the stream header
    quint32 sampleSize = 0; // 0: one chunk is one unit of length
    qint64 indx = -1;       // data of the super index, -1 when the header has none
    int indxCapacity = 0;   // entries it has room for
};

struct HeaderSpots
{
    qint64 avih = -1; // data of the main header
    QList<StreamSpots> streams;
    qint64 dmlh = -1; // data of the OpenDML header, -1 when absent
};

// One entry of a stream's super index.
struct IndexEntry
{
    qint64 pos;       // of the "ix##" chunk
    quint32 size;     // of the whole chunk, header included
    quint32 duration; // frames, or samples for audio
};

bool readAt(QFile& f, qint64 pos, char* buf, qint64 len);
bool writeU32(QFile& f, qint64 pos, quint32 v);

// Appends the standard indexes of `block` at `end` (inside its movie list),
// then, for the first block, idx1 after the list; sets the list's and the
// RIFF's sizes. Adds one super index entry per stream. Returns the new end,
// or -1 when the disk took less than that.
qint64 closeBlock(QFile& f, const HeaderSpots& spots, const Block& block, bool first, qint64 end,
                  QList<QList<IndexEntry>>& superIndex);

// Puts the real counts into the headers: frames in the main header (the first
// block's only when the file has an OpenDML header, which gets all of them),
// each stream's length and super index.
bool writeHeaders(QFile& f, const HeaderSpots& spots, const QList<Block>& blocks,
                  const QList<QList<IndexEntry>>& superIndex);

} // namespace avi
