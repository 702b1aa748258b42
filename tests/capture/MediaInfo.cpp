#include "tests/capture/MediaInfo.h"

#include <QUrl>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

MediaInfo discoverMedia(const QString& path)
{
    MediaInfo m;
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    GError* err = nullptr;
    GstDiscoverer* disc = gst_discoverer_new(10 * GST_SECOND, &err);
    if (!disc) {
        m.error = err ? QString::fromUtf8(err->message) : QStringLiteral("no discoverer");
        g_clear_error(&err);
        return m;
    }
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    GstDiscovererInfo* info = gst_discoverer_discover_uri(disc, uri.constData(), &err);
    if (!info || gst_discoverer_info_get_result(info) != GST_DISCOVERER_OK) {
        m.error = err ? QString::fromUtf8(err->message) : QStringLiteral("not discoverable");
        g_clear_error(&err);
        if (info)
            g_object_unref(info);
        g_object_unref(disc);
        return m;
    }
    m.ok = true;
    m.durationSeconds = double(gst_discoverer_info_get_duration(info)) / GST_SECOND;
    if (GstDiscovererStreamInfo* top = gst_discoverer_info_get_stream_info(info)) {
        if (GstCaps* caps = gst_discoverer_stream_info_get_caps(top)) {
            m.container = QString::fromUtf8(gst_structure_get_name(gst_caps_get_structure(caps, 0)));
            gst_caps_unref(caps);
        }
        gst_discoverer_stream_info_unref(top);
    }
    GList* videos = gst_discoverer_info_get_video_streams(info);
    m.videoStreams = int(g_list_length(videos));
    if (videos) {
        auto* v = GST_DISCOVERER_VIDEO_INFO(videos->data);
        m.videoSize =
            QSize(int(gst_discoverer_video_info_get_width(v)), int(gst_discoverer_video_info_get_height(v)));
        const guint den = gst_discoverer_video_info_get_framerate_denom(v);
        m.videoFps = den ? double(gst_discoverer_video_info_get_framerate_num(v)) / den : 0;
    }
    gst_discoverer_stream_info_list_free(videos);
    GList* audios = gst_discoverer_info_get_audio_streams(info);
    m.audioStreams = int(g_list_length(audios));
    if (audios) {
        auto* a = GST_DISCOVERER_AUDIO_INFO(audios->data);
        m.audioRate = int(gst_discoverer_audio_info_get_sample_rate(a));
        m.audioChannels = int(gst_discoverer_audio_info_get_channels(a));
    }
    gst_discoverer_stream_info_list_free(audios);
    g_object_unref(info);
    g_object_unref(disc);
    return m;
}

#include <QFile>
#include <QtEndian>

AviHeader readAviHeader(const QString& path)
{
    AviHeader h;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return h;
    const QByteArray d = f.readAll();
    if (d.size() < 12 || !d.startsWith("RIFF") || d.mid(8, 4) != "AVI ")
        return h;
    h.riff = true;
    h.riffSizeMatches = qFromLittleEndian<quint32>(d.constData() + 4) + 8 == quint32(d.size());
    const int avih = d.indexOf("avih");
    if (avih >= 0 && avih + 8 + 20 <= d.size())
        h.totalFrames = qFromLittleEndian<quint32>(d.constData() + avih + 8 + 16);
    const int movi = d.indexOf("movi");
    if (movi >= 4) {
        // Jump over the data by its stated size: the index follows it.
        const qint64 after = qint64(movi) + qFromLittleEndian<quint32>(d.constData() + movi - 4);
        h.hasIndex = after + 4 <= d.size() && d.mid(int(after), 4) == "idx1";
    }
    return h;
}

namespace {
quint32 le32(const QByteArray& d, qint64 at)
{
    return at >= 0 && at + 4 <= d.size() ? qFromLittleEndian<quint32>(d.constData() + at) : 0;
}
bool isTag(const QByteArray& d, qint64 at, const char* tag)
{
    return at >= 0 && at + 4 <= d.size() && d.mid(at, 4) == tag;
}
} // namespace

AviContents readAviContents(const QString& path)
{
    AviContents c;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        c.error = f.errorString();
        return c;
    }
    const QByteArray d = f.readAll();
    const qint64 size = d.size();
    bool sizes = true;
    qint64 pos = 0;
    int videoStream = -1, audioStream = -1;
    while (pos + 12 <= size) {
        if (!isTag(d, pos, "RIFF")) {
            c.error = QStringLiteral("no RIFF at %1").arg(pos);
            return c;
        }
        const qint64 riffEnd = pos + 8 + le32(d, pos + 4);
        const bool first = c.blocks == 0;
        if (first != isTag(d, pos + 8, "AVI ") || (!first && !isTag(d, pos + 8, "AVIX"))) {
            c.error = QStringLiteral("bad RIFF type at %1").arg(pos);
            return c;
        }
        ++c.blocks;
        if (riffEnd > size)
            sizes = false;
        qint64 p = pos + 12;
        const qint64 blockEnd = qMin(riffEnd, size);
        while (p + 8 <= blockEnd) {
            const quint32 len = le32(d, p + 4);
            const qint64 next = p + 8 + len + (len & 1);
            if (isTag(d, p, "LIST") && isTag(d, p + 8, "hdrl")) {
                // Main header, stream headers and the OpenDML header.
                qint64 h = p + 12;
                while (h + 8 <= qMin(next, size)) {
                    const quint32 hl = le32(d, h + 4);
                    if (isTag(d, h, "avih")) {
                        c.mainHeaderFrames = le32(d, h + 8 + 16);
                    } else if (isTag(d, h, "LIST") && isTag(d, h + 8, "strl")) {
                        const int stream = int(c.streamLengths.size());
                        qint64 s = h + 12;
                        quint32 used = 0;
                        quint64 duration = 0;
                        while (s + 8 <= h + 8 + hl) {
                            const quint32 sl = le32(d, s + 4);
                            if (isTag(d, s, "strh")) {
                                c.streamLengths.append(le32(d, s + 8 + 32));
                                if (isTag(d, s + 8, "vids")) {
                                    videoStream = stream;
                                    c.fps = int(le32(d, s + 8 + 24) / qMax<quint32>(1, le32(d, s + 8 + 20)));
                                } else if (isTag(d, s + 8, "auds")) {
                                    audioStream = stream;
                                }
                            } else if (isTag(d, s, "strf") && stream == audioStream) {
                                c.audioRate = int(le32(d, s + 8 + 4));
                                c.audioAlign = int(qFromLittleEndian<quint16>(d.constData() + s + 8 + 12));
                            } else if (isTag(d, s, "indx")) {
                                used = le32(d, s + 8 + 4);
                                for (quint32 e = 0; e < used; ++e)
                                    duration += le32(d, s + 8 + 24 + 16 * e + 12);
                            }
                            s += 8 + sl + (sl & 1);
                        }
                        c.superIndexUsed.append(used);
                        c.superIndexDuration.append(duration);
                    } else if (isTag(d, h, "LIST") && isTag(d, h + 8, "odml")) {
                        c.hasOdml = true;
                        c.odmlFrames = le32(d, h + 12 + 8);
                    }
                    h += 8 + hl + (hl & 1);
                }
            } else if (isTag(d, p, "LIST") && isTag(d, p + 8, "movi")) {
                if (next > blockEnd)
                    sizes = false;
                qint64 m = p + 12;
                while (m + 8 <= qMin(next, size)) {
                    const quint32 ml = le32(d, m + 4);
                    const int stream = (d[m] >= '0' && d[m] <= '9' && d[m + 1] >= '0' && d[m + 1] <= '9')
                                           ? (d[m] - '0') * 10 + (d[m + 1] - '0')
                                           : -1;
                    if (m + 8 + ml > size)
                        break;
                    if (stream >= 0 && stream == videoStream) {
                        if (c.videoChunks == 0)
                            c.firstFrame = d.mid(m + 8, ml);
                        else if (c.videoChunks == 1)
                            c.secondFrame = d.mid(m + 8, ml);
                        ++c.videoChunks;
                        c.videoChunkEnds.append(m + 8 + ml);
                        if (first)
                            ++c.firstBlockVideoChunks;
                    } else if (stream >= 0 && stream == audioStream) {
                        c.audioBytes += ml;
                        c.audioChunks.append({m + 8 + ml, ml});
                    }
                    if (stream >= 0)
                        c.lastChunkEnd = m + 8 + ml + (ml & 1);
                    m += 8 + ml + (ml & 1);
                }
            } else if (isTag(d, p, "idx1")) {
                c.idx1 = true;
                c.idx1Entries = len / 16;
            }
            p = next;
        }
        if (p != riffEnd)
            sizes = false;
        pos = riffEnd + (riffEnd & 1);
    }
    c.sizesMatch = sizes && pos == size;
    c.ok = c.blocks > 0;
    return c;
}

Decoded decodeMedia(const QString& path)
{
    Decoded r;
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    const AviContents avi = readAviContents(path);
    QString desc = QStringLiteral("filesrc name=in ! avidemux name=d d.video_0 ! queue ! decodebin ! "
                                  "fakesink name=v sync=false signal-handoffs=true");
    if (avi.streamLengths.size() > 1)
        desc += QStringLiteral(" d.audio_0 ! queue ! decodebin ! fakesink sync=false");
    GError* err = nullptr;
    GstElement* pipeline = gst_parse_launch(desc.toUtf8().constData(), &err);
    if (!pipeline || err) {
        r.error = err ? QString::fromUtf8(err->message) : QStringLiteral("no pipeline");
        g_clear_error(&err);
        return r;
    }
    GstElement* in = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    g_object_set(in, "location", QFile::encodeName(path).constData(), nullptr);
    gst_object_unref(in);
    GstElement* v = gst_bin_get_by_name(GST_BIN(pipeline), "v");
    g_signal_connect(v, "handoff", G_CALLBACK(+[](GstElement*, GstBuffer*, GstPad*, gpointer n) {
                         ++*static_cast<quint64*>(n);
                     }),
                     &r.videoFrames);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, 120 * GST_SECOND,
                                                 GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    if (msg && GST_MESSAGE_TYPE(msg) == GST_MESSAGE_EOS) {
        r.ok = true;
    } else if (msg) {
        GError* e = nullptr;
        gst_message_parse_error(msg, &e, nullptr);
        r.error = e ? QString::fromUtf8(e->message) : QStringLiteral("error");
        g_clear_error(&e);
    } else {
        r.error = QStringLiteral("did not reach the end");
    }
    if (msg)
        gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(v);
    gst_object_unref(pipeline);
    return r;
}
