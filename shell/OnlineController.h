#pragma once
// Going online and offline. The online switch tells this controller what the
// user wants; it starts an online session (the streaming engine, registered
// by the program), asks it to log off exactly once per going-offline, and
// passes on what the session reports, so the main window only shows it.

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

#include "shell/OnlineSession.h"

class Capture;

class OnlineController : public QObject
{
    Q_OBJECT
public:
    using SessionFactory = std::function<OnlineSession*(Capture* camera)>;
    // Without a registered factory going online changes the labels only.
    static void setSessionFactory(SessionFactory factory);

    // `camera` is the one the sessions serve; it may be null.
    explicit OnlineController(Capture* camera = nullptr, QObject* parent = nullptr);

    // The online switch changed, by the user or by start-up.
    void setOnline(bool on);
    bool isOnline() const { return m_online; }
    // Starts a session unless one is running. Start-up starts one before the
    // switch shows the stored state, so switching on finds it running.
    void startSession();
    // The running session, or null.
    OnlineSession* session() const { return m_session; }

    // The online part of shutting down: going offline is marked before the
    // log-off so the session's handlers refuse newcomers, then the log-off.
    void shutDown();
    // Calls `end` once `session` has unloaded (at once when there is none),
    // or after `graceMs` without that. Needs nothing of the controller, which
    // may be gone by then.
    static void whenEnded(OnlineSession* session, std::function<void()> end, int graceMs);
    // The status once a refused session has ended.
    static QString offlineText(OnlineSession::Refusal reason);

signals:
    void engineStateChanged(const QString& text); // "ON" or "OFF"
    void statusChanged(const QString& text);      // the "Last Response:" value
    void addressKnown(const QString& url);        // the status labels show
    void loggedOff();                             // the status labels hide
    // The switch has to show offline: the account was refused.
    void switchOffWanted();
    // No account is set; offer to create one.
    void accountMissing();
    void startFailed(const QString& reason);
    void flashingWanted(bool on);
    void errorOccurred(const QString& message);
    void noticeWanted(const QString& text);
    void sessionEnded();
    // Each time the running session is asked to log off.
    void loggingOff();

private:
    void logOffOnce();
    void forceOffline();
    void onSessionUnloaded(OnlineSession* session);

    Capture* m_camera = nullptr;
    QPointer<OnlineSession> m_session;
    bool m_online = false;
    bool m_logOffAsked = false;
    bool m_loggedOff = false;      // the running session's log-off was answered
    bool m_startWhenEnded = false; // switched on while the last session was logging off
    std::optional<OnlineSession::Refusal> m_refusal;
};
