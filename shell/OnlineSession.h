#pragma once
// One stay online, as the shell sees it: made when the user goes online,
// asked to log off when they go offline, gone once it has unloaded. The
// streaming engine implements it; the shell knows it only through this and
// its signals, so the shell neither links the engine nor hands it widgets.

#include <QObject>
#include <QString>

class OnlineSession : public QObject
{
    Q_OBJECT
public:
    enum class Refusal { UnknownUser, WrongPassword, DirectoryDown };
    Q_ENUM(Refusal)

    using QObject::QObject;

    // Listens and logs on; called once, right after the session was made.
    // May end the session again at once (it then emits `unloaded`).
    virtual void start() = 0;
    // Logs off and stops: at once when never logged in, otherwise once the
    // directory has answered the log-off. Emits `unloaded` and deletes itself.
    virtual void logOff() = 0;
    // True from the moment the session stopped; it is deleted soon after.
    virtual bool hasEnded() const = 0;

signals:
    // The directory's last answer or what the session is doing, for the
    // "Last Response:" label.
    void statusChanged(const QString& text);
    // Where browsers reach the camera; the status labels show from now on.
    // Comes again when a better address is known (the directory's answer).
    void addressKnown(const QString& url);
    // The directory answered the log-off; the status labels hide again.
    void loggedOff();
    // The directory refused the account or is down: going online has to be
    // undone. The session logs itself off afterwards unless that already
    // happened while this signal was handled.
    void refused(OnlineSession::Refusal reason);
    // No account is set: nothing was started.
    void accountMissing();
    // Listening failed (port taken or invalid); the session ends.
    void startFailed(const QString& reason);
    // A browser is watching the camera (on) or stopped watching (off).
    void flashingWanted(bool on);
    // A failure for the error window.
    void errorOccurred(const QString& message);
    // A short notice the user confirms (a refused chat).
    void noticeWanted(const QString& text);
    // The session stopped: nothing listens, no request is pending.
    void unloaded();
};
