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
        m.videoSize = QSize(int(gst_discoverer_video_info_get_width(v)),
                            int(gst_discoverer_video_info_get_height(v)));
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
