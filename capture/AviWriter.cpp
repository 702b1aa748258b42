#include "capture/AviWriter.h"

#include <QtEndian>
#include <atomic>

using namespace avi;

namespace {
std::atomic<qint64> limit{qint64(1) << 30};
constexpr int SuperIndexEntries = 256;
constexpr qint64 Second = 1000000000;

// A chunk or list around `body`; returns where its data starts inside `out`.
qint64 chunk(QByteArray& out, quint32 id, const QByteArray& body)
{
    put32(out, id);
    put32(out, quint32(body.size()));
    const qint64 at = out.size();
    out.append(body);
    if (body.size() & 1)
        out.append(char(0));
    return at;
}
} // namespace

AviWriter::AviWriter() = default;

AviWriter::~AviWriter() = default;

qint64 AviWriter::blockLimit() { return limit; }

void AviWriter::setBlockLimit(qint64 bytes) { limit = qBound(qint64(64 * 1024), bytes, qint64(1) << 30); }

void AviWriter::setFailureHandler(std::function<void(const QString&)> handler)
{
    onFailure = std::move(handler);
}

bool AviWriter::open(const QString& path, const Video& v, const std::optional<Sound>& s)
{
    std::lock_guard lock(mutex);
    video = v;
    sound = s;
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        why = file.errorString();
        return false;
    }
    const int w = video.size.width(), h = video.size.height();
    const quint32 frameBytes = video.mjpeg ? quint32(w * h * 3) : quint32(w * h * 3 / 2);
    videoId = fourcc(video.mjpeg ? "00dc" : "00db");
    const int streams = sound ? 2 : 1;

    // Lays the header out once to learn where its counts are, relative to
    // the start of the header list's data.
    QByteArray hdrl;
    put32(hdrl, fourcc("hdrl"));
    QByteArray avih;
    put32(avih, quint32(Second / 1000 / qMax(1, video.fps))); // microseconds per frame
    put32(avih, 0);
    put32(avih, 0);
    put32(avih, 0x10 | 0x100); // has index, interleaved
    put32(avih, 0);            // frames: written at the end
    put32(avih, 0);
    put32(avih, quint32(streams));
    put32(avih, frameBytes);
    put32(avih, quint32(w));
    put32(avih, quint32(h));
    avih.append(16, char(0));
    const qint64 avihAt = chunk(hdrl, fourcc("avih"), avih);

    auto superIndexBody = [](quint32 id) {
        QByteArray b;
        put16(b, 4); // longs per entry
        b.append(char(0));
        b.append(char(0)); // index of indexes
        put32(b, 0);
        put32(b, id);
        b.append(12, char(0));
        b.append(SuperIndexEntries * 16, char(0));
        return b;
    };
    auto streamList = [&](const QByteArray& strh, const QByteArray& strf, quint32 id, StreamSpots& st) {
        QByteArray list;
        put32(list, fourcc("strl"));
        const qint64 strhAt = chunk(list, fourcc("strh"), strh);
        chunk(list, fourcc("strf"), strf);
        const qint64 indxAt = chunk(list, fourcc("indx"), superIndexBody(id));
        const qint64 listAt = chunk(hdrl, fourcc("LIST"), list);
        st.strh = listAt + strhAt;
        st.indx = listAt + indxAt;
        st.indxCapacity = SuperIndexEntries;
    };

    StreamSpots videoSpots;
    {
        QByteArray strh;
        put32(strh, fourcc("vids"));
        put32(strh, fourcc(video.mjpeg ? "MJPG" : "I420"));
        put32(strh, 0);
        put32(strh, 0); // priority, language
        put32(strh, 0);
        put32(strh, 1);
        put32(strh, quint32(video.fps));
        put32(strh, 0);
        put32(strh, 0); // length
        put32(strh, frameBytes);
        put32(strh, 0xffffffff);
        put32(strh, 0);
        put16(strh, 0);
        put16(strh, 0);
        put16(strh, quint16(w));
        put16(strh, quint16(h));
        QByteArray strf;
        put32(strf, 40);
        put32(strf, quint32(w));
        put32(strf, quint32(h));
        put16(strf, 1);
        put16(strf, video.mjpeg ? 24 : 12);
        put32(strf, fourcc(video.mjpeg ? "MJPG" : "I420"));
        put32(strf, frameBytes);
        strf.append(16, char(0));
        streamList(strh, strf, videoId, videoSpots);
    }
    StreamSpots soundSpots;
    if (sound) {
        const quint32 align = quint32(sound->channels * sound->bits / 8);
        QByteArray strh;
        put32(strh, fourcc("auds"));
        put32(strh, 0);
        put32(strh, 0);
        put32(strh, 0);
        put32(strh, 0);
        put32(strh, align);                        // scale
        put32(strh, quint32(sound->rate) * align); // rate: bytes per second
        put32(strh, 0);
        put32(strh, 0); // length
        put32(strh, quint32(sound->rate) * align);
        put32(strh, 0xffffffff);
        put32(strh, align); // sample size
        strh.append(8, char(0));
        QByteArray strf;
        put16(strf, 1); // PCM
        put16(strf, quint16(sound->channels));
        put32(strf, quint32(sound->rate));
        put32(strf, quint32(sound->rate) * align);
        put16(strf, quint16(align));
        put16(strf, quint16(sound->bits));
        put16(strf, 0);
        streamList(strh, strf, fourcc("01wb"), soundSpots);
        soundSpots.sampleSize = align;
    }
    QByteArray odml;
    put32(odml, fourcc("odml"));
    const qint64 dmlhAt = chunk(odml, fourcc("dmlh"), QByteArray(248, char(0)));
    const qint64 odmlAt = chunk(hdrl, fourcc("LIST"), odml);

    QByteArray out;
    put32(out, fourcc("RIFF"));
    put32(out, 0);
    put32(out, fourcc("AVI "));
    const qint64 hdrlAt = chunk(out, fourcc("LIST"), hdrl);
    spots.avih = hdrlAt + avihAt;
    videoSpots.strh += hdrlAt;
    videoSpots.indx += hdrlAt;
    spots.streams = {videoSpots};
    if (sound) {
        soundSpots.strh += hdrlAt;
        soundSpots.indx += hdrlAt;
        spots.streams.append(soundSpots);
    }
    spots.dmlh = hdrlAt + odmlAt + dmlhAt;
    const qint64 moviAt = out.size();
    put32(out, fourcc("LIST"));
    put32(out, 4);
    put32(out, fourcc("movi"));
    superIndex = QList<QList<IndexEntry>>(spots.streams.size());
    blocks = {Block{0, moviAt, {}}};
    if (file.write(out) != out.size() || !file.flush()) {
        why = file.errorString();
        file.close();
        return false;
    }
    end = out.size();
    return true;
}

void AviWriter::failed()
{
    if (broken)
        return;
    broken = true;
    why = file.errorString();
    if (onFailure)
        onFailure(why);
}

bool AviWriter::put(quint32 id, const char* data, qint64 size)
{
    if (broken)
        return false;
    // Room for this chunk and the block's indexes, or a new block.
    const Block& current = blocks.last();
    const qint64 indexes = 8 + 16 * qint64(current.chunks.size() + 1) +
                           spots.streams.size() * (32 + 8 * qint64(current.chunks.size() + 1));
    if (!current.chunks.isEmpty() && end + 8 + size + indexes - current.riff > limit) {
        if (!closeCurrentBlock() || !startBlock())
            return false;
    }
    char h[8];
    qToLittleEndian(id, h);
    qToLittleEndian(quint32(size), h + 4);
    const char pad = 0;
    if (!file.seek(end) || file.write(h, 8) != 8 || file.write(data, size) != size ||
        ((size & 1) && file.write(&pad, 1) != 1)) {
        failed();
        return false;
    }
    blocks.last().chunks.append({id, end, quint32(size)});
    end += 8 + size + (size & 1);
    return true;
}

bool AviWriter::closeCurrentBlock()
{
    const qint64 newEnd = closeBlock(file, spots, blocks.last(), blocks.size() == 1, end, superIndex);
    if (newEnd < 0) {
        failed();
        return false;
    }
    end = newEnd;
    return true;
}

bool AviWriter::startBlock()
{
    if (blocks.size() >= SuperIndexEntries) {
        why = QStringLiteral("The movie is too large for one file");
        broken = true;
        if (onFailure)
            onFailure(why);
        return false;
    }
    QByteArray h;
    put32(h, fourcc("RIFF"));
    put32(h, 16);
    put32(h, fourcc("AVIX"));
    put32(h, fourcc("LIST"));
    put32(h, 4);
    put32(h, fourcc("movi"));
    if (!file.seek(end) || file.write(h) != h.size()) {
        failed();
        return false;
    }
    blocks.append(Block{end, end + 12, {}});
    end += h.size();
    return true;
}

void AviWriter::alignSound()
{
    if (soundAligned || firstFramePts < 0 || !sound || soundPending.isEmpty())
        return;
    soundAligned = true;
    const qint64 align = sound->channels * sound->bits / 8;
    if (soundPendingPts < 0)
        return;
    // Sound heard before the first frame is dropped; sound that starts after
    // it gets silence in front.
    // A sound clock seconds apart from the picture's is no start delay: bounded.
    const qint64 gap =
        qBound(qint64(-5) * sound->rate, (soundPendingPts - firstFramePts) * sound->rate / Second,
               qint64(5) * sound->rate);
    if (gap < 0)
        soundPending.remove(0, qMin(soundPending.size(), qsizetype(-gap * align)));
    else if (gap > 0)
        soundPending.prepend(QByteArray(gap * align, sound->bits == 8 ? char(0x80) : char(0)));
}

void AviWriter::writeSoundUpTo(quint64 samples, bool pad)
{
    if (!sound || broken || samplesWritten >= samples)
        return;
    const qint64 align = sound->channels * sound->bits / 8;
    qint64 wanted = qint64(samples - samplesWritten);
    // At most a second a chunk: a long stretch stays in small chunks.
    qint64 offset = 0;
    qint64 held = qMin<qint64>(soundPending.size() / align, wanted);
    while (held > 0 && !broken) {
        const qint64 take = qMin<qint64>(held, sound->rate);
        if (!put(fourcc("01wb"), soundPending.constData() + offset, take * align))
            break;
        offset += take * align;
        samplesWritten += quint64(take);
        held -= take;
        wanted -= take;
    }
    soundPending.remove(0, offset);
    if (!pad || broken || wanted <= 0)
        return;
    // The sound fell short of the picture (a late or silent input): silence.
    const QByteArray silence(qMin<qint64>(wanted, sound->rate) * align,
                             sound->bits == 8 ? char(0x80) : char(0));
    while (wanted > 0) {
        const qint64 take = qMin<qint64>(wanted, sound->rate);
        if (!put(fourcc("01wb"), silence.constData(), take * align))
            return;
        samplesWritten += quint64(take);
        wanted -= take;
    }
}

void AviWriter::addFrame(const char* data, qint64 size, qint64 pts)
{
    std::lock_guard lock(mutex);
    if (broken || finished)
        return;
    // The sound's start is taken from the second frame: the first may stand
    // for a moment before it (a repeat of it was dropped at the start).
    if (frameCount == 0)
        startPts = pts >= 0 ? pts : 0;
    else if (frameCount == 1 && firstFramePts < 0)
        firstFramePts = pts >= 0 ? qMax(startPts, pts - Second / video.fps) : startPts;
    alignSound();
    if (!put(videoId, data, size))
        return;
    ++frameCount;
    if (soundAligned)
        writeSoundUpTo(frameCount * quint64(sound->rate) / quint64(video.fps), false);
}

void AviWriter::addSound(const char* data, qint64 size, qint64 pts)
{
    std::lock_guard lock(mutex);
    if (broken || finished || !sound)
        return;
    if (soundPending.isEmpty() && !soundAligned)
        soundPendingPts = pts;
    soundPending.append(data, size);
    alignSound();
    if (soundAligned)
        writeSoundUpTo(frameCount * quint64(sound->rate) / quint64(video.fps), false);
}

bool AviWriter::finish()
{
    std::lock_guard lock(mutex);
    if (finished)
        return !broken;
    finished = true;
    if (firstFramePts < 0 && frameCount > 0)
        firstFramePts = startPts;
    alignSound();
    if (!broken && sound)
        writeSoundUpTo(frameCount * quint64(sound->rate) / quint64(video.fps), true);
    if (broken || !closeCurrentBlock() || !writeHeaders(file, spots, blocks, superIndex)) {
        failed();
        file.close();
        return false;
    }
    file.close();
    return true;
}

QString AviWriter::error() const
{
    std::lock_guard lock(mutex);
    return why;
}

quint64 AviWriter::frames() const
{
    std::lock_guard lock(mutex);
    return frameCount;
}
