#include "shell/OnlineController.h"

#include "shell/Desktop.h"
#include "shell/Globals.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>
#include <utility>

namespace {
OnlineController::SessionFactory sessionFactory;
} // namespace

QString OnlineController::offlineText(OnlineSession::Refusal reason)
{
    switch (reason) {
    case OnlineSession::Refusal::UnknownUser:
        return QStringLiteral("Offline: username incorrect");
    case OnlineSession::Refusal::WrongPassword:
        return QStringLiteral("Offline: password incorrect");
    case OnlineSession::Refusal::DirectoryDown:
        return QStringLiteral("Offline: database is down, try later again");
    }
    return QStringLiteral("Offline");
}

void OnlineController::setSessionFactory(SessionFactory factory) { sessionFactory = std::move(factory); }

OnlineController::OnlineController(Capture* camera, QObject* parent) : QObject(parent), m_camera(camera) {}

void OnlineController::setOnline(bool on)
{
    Globals& g = globals();
    g.OnlineSwitch = on;
    m_online = on;
    if (!on) {
        // Set before the log-off, so handlers that run during it see it.
        g.GoingOffline = true;
        emit engineStateChanged(QStringLiteral("OFF"));
        emit statusChanged(QStringLiteral("Logging off..."));
        logOffOnce();
        return;
    }
    emit engineStateChanged(QStringLiteral("ON"));
    desktop::doEvents();
    g.GoingOffline = false;
    // A session still logging off would make this start nothing: start
    // afresh once it has gone.
    if (m_session && m_logOffAsked)
        m_startWhenEnded = true;
    m_logOffAsked = false;
    startSession();
}

void OnlineController::startSession()
{
    if (m_session || !sessionFactory)
        return;
    OnlineSession* session = sessionFactory(m_camera);
    if (!session)
        return;
    m_session = session;
    m_logOffAsked = false;
    m_refusal.reset();
    m_loggedOff = false;
    connect(session, &OnlineSession::statusChanged, this, &OnlineController::statusChanged);
    connect(session, &OnlineSession::addressKnown, this, &OnlineController::addressKnown);
    connect(session, &OnlineSession::loggedOff, this, [this] {
        m_loggedOff = true;
        emit loggedOff();
    });
    connect(session, &OnlineSession::startFailed, this, &OnlineController::startFailed);
    connect(session, &OnlineSession::flashingWanted, this, &OnlineController::flashingWanted);
    connect(session, &OnlineSession::errorOccurred, this, &OnlineController::errorOccurred);
    connect(session, &OnlineSession::noticeWanted, this, &OnlineController::noticeWanted);
    connect(session, &OnlineSession::refused, this, [this](OnlineSession::Refusal reason) {
        m_refusal = reason;
        emit switchOffWanted();
        forceOffline();
    });
    connect(session, &OnlineSession::accountMissing, this, [this] {
        emit accountMissing();
        forceOffline();
    });
    connect(session, &OnlineSession::unloaded, this, [this, session] { onSessionUnloaded(session); });
    session->start(); // may end the session again at once
}

void OnlineController::forceOffline()
{
    // Whoever shows the switch normally turns it off on the signal, which
    // comes back here; without one the controller goes offline itself. A
    // session started before the switch was on (start-up) ends as well, so
    // switching on later starts afresh instead of finding an idle one.
    if (m_online)
        setOnline(false);
    else
        logOffOnce();
}

void OnlineController::logOffOnce()
{
    if (!m_session || m_logOffAsked || m_session->hasEnded())
        return;
    m_logOffAsked = true;
    emit loggingOff();
    m_session->logOff();
}

void OnlineController::onSessionUnloaded(OnlineSession* session)
{
    if (session != m_session)
        return;
    m_session = nullptr;
    // Connections that outlive the session can no longer report their end.
    emit flashingWanted(false);
    // The labels still show (no log-off answer hid them): the last word is why we are offline.
    if (m_refusal)
        emit statusChanged(offlineText(*m_refusal));
    else if (!m_loggedOff && !m_online)
        emit statusChanged(QStringLiteral("Offline"));
    emit sessionEnded();
    if (std::exchange(m_startWhenEnded, false) && m_online)
        startSession();
}

void OnlineController::shutDown()
{
    Globals& g = globals();
    g.GoingOffline = true;
    desktop::doEvents();
    logOffOnce();
    desktop::doEvents();
    g.GoingOffline = true;
    desktop::doEvents();
}

void OnlineController::whenEnded(OnlineSession* session, std::function<void()> end, int graceMs)
{
    auto ended = std::make_shared<bool>(false);
    auto once = [ended, end = std::move(end)] {
        if (!std::exchange(*ended, true))
            end();
    };
    if (!session || session->hasEnded()) {
        once();
        return;
    }
    QTimer::singleShot(graceMs, qApp, once);
    connect(session, &OnlineSession::unloaded, qApp, once);
    connect(session, &QObject::destroyed, qApp, once);
}
