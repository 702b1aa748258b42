#pragma once
// Timed snapshots: still pictures from the camera saved as numbered JPEG
// files (Picture0.jpg, Picture1.jpg, ...) into a folder, on demand or every
// N seconds. The window only shows this; a test drives it without one.

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class Snapshots : public QObject
{
    Q_OBJECT
public:
    // The newest camera frame; null when there is none.
    using FrameSource = std::function<QImage()>;
    // The JPEG bytes of a picture at a quality of 1 to 100; empty on failure.
    using JpegWriter = std::function<QByteArray(const QImage& picture, int quality)>;

    static constexpr int Quality = 90;
    static constexpr int MinInterval = 1;
    static constexpr int MaxInterval = 60;

    Snapshots(FrameSource grab, JpegWriter encode, QObject* parent = nullptr);

    // Where pictures go; created when the first picture is taken.
    void setFolder(const QString& folder) { m_folder = folder; }
    QString folder() const { return m_folder; }
    // The folder a new window starts with: the user's pictures folder.
    static QString defaultFolder();

    // Seconds between timed pictures, kept within 1..60. Setting it restarts
    // a running timer, so the new interval counts from now.
    void setInterval(int seconds);
    int interval() const { return m_interval; }
    // "second" for 1, otherwise "<n> seconds".
    QString unitText() const;

    void setTimerEnabled(bool on);
    bool timerEnabled() const { return m_timer.isActive(); }
    const QTimer& timer() const { return m_timer; }

    // The file the next picture goes to: the lowest free number from 0.
    static QString nextPicturePath(const QString& folder);

    // Takes one picture now. False when nothing was saved (failed has said
    // why) or a picture is already being taken.
    bool takePicture();
    // What the timer runs; a tick while a picture is still being taken (its
    // failure message open, say) is skipped.
    void onTick();
    bool busy() const { return m_busy; }
    // Why the last picture failed, in the system's words.
    QString lastError() const { return m_error; }

signals:
    void busyChanged(bool busy);
    void saved(const QString& path);
    // The text the user is shown.
    void failed(const QString& message);

private:
    // Saves the current frame to `path`, or to the next free number when
    // another program took that one meanwhile (path then names it).
    bool save(QString& path, QString& why);

    FrameSource m_grab;
    JpegWriter m_encode;
    QString m_folder;
    int m_interval = MaxInterval;
    QTimer m_timer;
    bool m_busy = false;
    QString m_error;
};
