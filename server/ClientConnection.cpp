#include "server/ClientConnection.h"

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/Settings.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <chrono>
#include <malloc.h>
#include <utility>

namespace {
int handlersAlive = 0;

// What the socket takes in from a peer before it is read (one read at most).
constexpr qint64 kReadChunk = 16 * 1024;

QString addressText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}
} // namespace

// ---- ServingState ----

ServingState::ServingState()
{
    // One timer for the deadlines of every connection, running while there are any.
    sweepTimer.setInterval(250);
    connect(&sweepTimer, &QTimer::timeout, this, [this] { sweep(clockMs()); });
    flashOffDelay.setInterval(750);
    flashOffDelay.setSingleShot(true);
    connect(&flashOffDelay, &QTimer::timeout, this, &ServingState::onFlashOff);
}

ServingState::~ServingState() { endConnections(); }

qint64 ServingState::clockMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

ClientConnection* ServingState::admit(QTcpSocket* socket, int cap)
{
    // The cap counts open sockets. When it is reached the connection that has
    // waited longest without a request under way makes room: an idle
    // keep-alive one, else one closing, else one whose request has not come
    // in whole (slow or silent peers), else the one that moved last longest ago.
    while (cap > 0 && liveHandlers >= cap && !m_connections.isEmpty()) {
        ClientConnection* victim = nullptr;
        int victimTier = 4;
        qint64 victimSince = 0;
        for (ClientConnection* c : std::as_const(m_connections)) {
            int tier = 3;
            qint64 since = c->m_lastProgress;
            if (c->idleKeepAlive()) {
                tier = 0;
                since = c->m_lastData;
            } else if (c->m_closing) {
                tier = 1;
                since = c->m_lastProgress;
            } else if (c->queuedRequests() == 0 && c->m_unsent == 0) {
                tier = 2;
                since = c->m_requestStart >= 0 ? c->m_requestStart : c->m_openedAt;
            }
            if (!victim || tier < victimTier || (tier == victimTier && since < victimSince)) {
                victim = c;
                victimTier = tier;
                victimSince = since;
            }
        }
        victim->unload();
    }
    auto* c = new ClientConnection(*this, socket);
    if (!sweepTimer.isActive())
        sweepTimer.start();
    return c;
}

void ServingState::endConnections()
{
    const QList<ClientConnection*> all = m_connections;
    for (ClientConnection* c : all) {
        const bool busy = c->m_pumping;
        c->unload();
        if (!busy)
            delete c; // now, not later: the program may be ending
    }
    m_waiting.clear();
    sweepTimer.stop();
}

void ServingState::remove(ClientConnection* c)
{
    m_connections.removeOne(c);
    liveHandlers = int(m_connections.size());
    addUnsent(-c->m_unsent);
    c->m_unsent = 0;
    m_buffered -= c->m_buffered;
    c->m_buffered = 0;
    wakeWaiting();
}

void ServingState::addUnsent(qint64 delta)
{
    m_unsent += delta;
    if (delta < 0)
        wakeWaiting();
}

void ServingState::wakeWaiting()
{
    if (m_waiting.isEmpty() || m_unsent >= kMaxUnsentTotal || m_buffered >= kMaxBufferedTotal)
        return;
    const QList<QPointer<ClientConnection>> waiting = std::exchange(m_waiting, {});
    for (const QPointer<ClientConnection>& c : waiting) {
        if (!c || c->m_ended)
            continue;
        c->m_waiting = false;
        QMetaObject::invokeMethod(c, &ClientConnection::pump, Qt::QueuedConnection);
    }
}

void ServingState::onFlashOff() { emit flashingWanted(false); }

const FrameComposer::Answer& ServingState::frameAnswer()
{
    const Globals& g = globals();
    FrameComposer::Request r;
    r.capture = camera;
    int w = 0;
    int h = 0;
    if (g.ResizeFrames && FrameSizeForCode(g.FrameSizeCode, w, h)) {
        r.size = QSize(w, h);
        r.stretch = true;
    } else {
        r.size = referenceFrame;
    }
    r.templates = &templates;
    // The label count is a setting: looked at once a second and whenever the
    // templates are reloaded, not per request.
    const qint64 second = clockMs() / 1000;
    if (second != m_labelCountSecond || templateGeneration != m_labelCountGeneration) {
        m_labelCount = Settings::instance().get(setting::LabelCount);
        m_labelCountSecond = second;
        m_labelCountGeneration = templateGeneration;
    }
    r.labelCount = m_labelCount;
    r.generation = templateGeneration;
    r.quality = g.JpegQuality;
    return composer.compose(r);
}

void ServingState::sweep(qint64 now)
{
    if (m_connections.isEmpty()) {
        sweepTimer.stop();
        // The last client left: give the memory their sockets used back.
        malloc_trim(0);
        return;
    }
    QList<QPointer<ClientConnection>> all;
    all.reserve(m_connections.size());
    for (ClientConnection* c : std::as_const(m_connections))
        all.append(c);
    for (const QPointer<ClientConnection>& c : all) {
        if (!c || c->m_ended)
            continue;
        if (!c->m_announced && now - c->m_openedAt >= kAnnounceMs)
            c->onAnnouncePeer();
        if (!c || c->m_ended)
            continue;
        if (now - std::max(c->m_lastData, c->m_lastProgress) >= kIdleMs) {
            c->onIdleTimeout();
            continue;
        }
        // A request must come in whole within the deadline, however slowly
        // its bytes trickle.
        if (c->m_requestStart >= 0 && now - c->m_requestStart >= kHeaderDeadlineMs) {
            c->unload();
            continue;
        }
        // A word that could still have become a request line is text after all.
        if (c->m_collector.undecided() && now - c->m_lastData >= kQuietMs && !c->m_closing) {
            c->enqueue(c->m_collector.flush());
            c->m_requestStart = -1;
            c->pump();
        }
    }
}

// ---- ClientConnection ----

ClientConnection::ClientConnection(ServingState& state, QTcpSocket* socket)
    : peerSocket(socket), m_state(state)
{
    ++handlersAlive;
    m_openedAt = m_lastData = m_lastProgress = ServingState::clockMs();
    m_state.m_connections.append(this);
    m_state.liveHandlers = int(m_state.m_connections.size());
    peerSocket->setParent(this);
    // Bounded reads: a peer that pipelines faster than it reads its answers is
    // held back by TCP instead of by this process's memory.
    peerSocket->setReadBufferSize(kReadChunk);
    connect(peerSocket, &QTcpSocket::readyRead, this, &ClientConnection::onReadyRead);
    connect(peerSocket, &QTcpSocket::bytesWritten, this, &ClientConnection::onBytesWritten);
    connect(peerSocket, &QTcpSocket::disconnected, this, &ClientConnection::onDisconnected);
    connect(peerSocket, &QTcpSocket::errorOccurred, this, &ClientConnection::onSocketError);

    if (globals().GoingOffline) {
        unload();
        return;
    }
    // Data may have come with the connection already.
    if (peerSocket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::onReadyRead, Qt::QueuedConnection);
}

ClientConnection::~ClientConnection() { --handlersAlive; }

int ClientConnection::liveCount() { return handlersAlive; }

bool ClientConnection::idleKeepAlive() const
{
    return m_answered > 0 && !m_closing && m_collector.pending() == 0 && queuedRequests() == 0 &&
           m_unsent == 0;
}

void ClientConnection::onReadyRead()
{
    if (m_ended || m_closing)
        return;
    if (globals().GoingOffline) {
        unload();
        return;
    }
    m_lastData = ServingState::clockMs();
    pump();
}

void ClientConnection::onBytesWritten(qint64)
{
    if (m_ended)
        return;
    m_lastProgress = ServingState::clockMs();
    syncUnsent();
    if (!m_pumping)
        pump();
}

void ClientConnection::syncUnsent()
{
    // Taken from the socket itself: it does not report every write while
    // it is reporting one.
    const qint64 now = peerSocket->bytesToWrite();
    const qint64 delta = now - m_unsent;
    m_unsent = now;
    if (delta != 0)
        m_state.addUnsent(delta);
}

void ClientConnection::enqueue(QList<request::Piece>&& pieces)
{
    for (request::Piece& p : pieces) {
        m_queuedBytes += p.data.size();
        m_queue.append(std::move(p));
    }
    updateBuffered();
}

void ClientConnection::updateBuffered()
{
    const qint64 now = m_collector.pending() + m_queuedBytes;
    const qint64 delta = now - m_buffered;
    m_state.m_buffered += delta;
    m_buffered = now;
    if (delta < 0)
        m_state.wakeWaiting();
}

void ClientConnection::waitForRoom()
{
    if (m_waiting)
        return;
    m_waiting = true;
    m_state.m_waiting.append(this);
}

void ClientConnection::pump()
{
    if (m_pumping || m_ended)
        return;
    m_pumping = true;
    QPointer<ClientConnection> self(this);
    while (!m_ended && !m_closing) {
        // Answer what is queued, in order, while the bounds allow.
        bool blocked = false;
        while (m_next < m_queue.size() && !m_ended && !m_closing) {
            if (m_unsent >= kMaxUnsentBytes) {
                peerSocket->flush();
                syncUnsent();
            }
            if (m_unsent >= kMaxUnsentBytes) {
                blocked = true; // bytesWritten brings us back
                break;
            }
            if (m_state.m_unsent >= ServingState::kMaxUnsentTotal) {
                blocked = true;
                waitForRoom();
                break;
            }
            const request::Piece piece = std::move(m_queue[m_next++]);
            m_queuedBytes -= piece.data.size();
            if (!handle(piece)) {
                if (!self)
                    return;
                break;
            }
            if (!self)
                return;
        }
        if (m_next >= m_queue.size()) {
            m_queue.clear();
            m_next = 0;
        }
        if (m_ended)
            break;
        updateBuffered();
        if (blocked || m_closing || m_next < m_queue.size() || peerSocket->bytesAvailable() == 0)
            break;
        if (m_buffered > 0 && m_state.m_buffered >= ServingState::kMaxBufferedTotal) {
            waitForRoom();
            break;
        }
        // Read more and cut it into requests. The socket holds kReadChunk at
        // most; reading it all also lets the socket take the next bytes.
        const QByteArray data = peerSocket->readAll();
        const bool hadPending = m_collector.pending() > 0;
        QList<request::Piece> pieces = m_collector.feed(data);
        if (m_collector.overflow()) {
            unload();
            break;
        }
        if (m_collector.pending() == 0)
            m_requestStart = -1;
        else if (!hadPending || !pieces.isEmpty())
            m_requestStart = ServingState::clockMs();
        enqueue(std::move(pieces));
    }
    if (!self)
        return;
    m_pumping = false;
    if (!m_ended && peerSocket->bytesToWrite() > 0) {
        peerSocket->flush();
        syncUnsent();
    }
}

bool ClientConnection::handle(const request::Piece& piece)
{
    const QByteArray& data = piece.data;
    const Globals& g = globals();
    QPointer<ClientConnection> self(this);
    switch (request::classify(data, g.ChatDisabled)) {
    case request::Kind::Diag: {
        const QByteArray echo = request::diagEcho(data);
        if (!echo.isEmpty())
            write(echo);
        closeSocket();
        return false;
    }
    case request::Kind::ChatReject: {
        const QString peer = addressText(peerSocket->peerAddress());
        closeSocket();
        // The chat windows decide (only an answer to our own invitation is
        // shown); without them the notice goes to the main window.
        if (enginehooks::hasChatRejectHandler())
            enginehooks::chatReject(peer);
        else if (self)
            emit noticeWanted(QStringLiteral("You chat request is rejected.."));
        return false;
    }
    case request::Kind::ChatAccept:
        emit flashingWanted(false);
        if (enginehooks::hasChatAcceptHandler()) {
            const quint16 port = enginehooks::chatAccept(request::chatAcceptName(data));
            if (!self || m_ended)
                return false;
            if (port != 0)
                write(QByteArray::number(port) + "\r\n");
        }
        closeSocket();
        return false;
    case request::Kind::ChatRequest: {
        write(request::chatPageResponse(g.AppName));
        const QString peer = addressText(peerSocket->peerAddress());
        closeSocket();
        if (!m_state.flashOffDelay.isActive())
            m_state.flashOffDelay.start();
        enginehooks::chatRequest(request::chatRequestString(data), peer);
        return false;
    }
    case request::Kind::ChatRefused:
        write(request::chatRejectReply());
        closeSocket();
        if (!m_state.flashOffDelay.isActive())
            m_state.flashOffDelay.start();
        return false;
    case request::Kind::Frame:
        sendFrame(piece);
        if (piece.close) {
            closeSocket();
            return false;
        }
        return true;
    }
    return true;
}

void ClientConnection::sendFrame(const request::Piece& piece)
{
    emit flashingWanted(true);
    const FrameComposer::Answer& answer = m_state.frameAnswer();
    // The kept answer goes out as it is: the socket shares the buffer.
    write(piece.head ? answer.header() : answer.bytes);
    ++m_answered;
}

void ClientConnection::write(const QByteArray& bytes)
{
    if (peerSocket->state() != QAbstractSocket::ConnectedState)
        return; // reset by the peer; the error or close ends the handler
    peerSocket->write(bytes);
    syncUnsent();
    m_lastProgress = ServingState::clockMs();
}

void ClientConnection::closeSocket()
{
    if (m_closing || m_ended)
        return;
    m_closing = true;
    // Sends what was written, then closes; onDisconnected ends the handler.
    if (peerSocket->state() == QAbstractSocket::UnconnectedState)
        unload();
    else
        peerSocket->disconnectFromHost();
}

void ClientConnection::onDisconnected()
{
    if (m_ended)
        return;
    if (!m_closing) {
        // The peer closed: the tray stops flashing a little later.
        if (!m_state.flashOffDelay.isActive())
            m_state.flashOffDelay.start();
    }
    unload();
}

void ClientConnection::onSocketError()
{
    if (m_ended || peerSocket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    const QString description = peerSocket->errorString();
    if (globals().ShowStreamErrors)
        emit errorOccurred(QStringLiteral("Velora Error: \r\nWinsock: ") + description);
    if (!m_state.flashOffDelay.isActive())
        m_state.flashOffDelay.start();
    unload();
}

void ClientConnection::onAnnouncePeer()
{
    m_announced = true;
    if (m_ended || !globals().ActiveConnectionsOpen)
        return;
    peerAddress = addressText(peerSocket->peerAddress());
    enginehooks::addActiveConnection(peerAddress);
}

void ClientConnection::onIdleTimeout() { unload(); }

void ClientConnection::removePeer()
{
    if (m_peerRemoved || !globals().ActiveConnectionsOpen)
        return;
    m_peerRemoved = true;
    enginehooks::removeActiveConnection(peerAddress);
}

void ClientConnection::unload()
{
    if (m_ended)
        return;
    m_ended = true;
    // It stops counting at once: no linger against the cap.
    m_state.remove(this);
    m_queue.clear();
    m_next = 0;
    removePeer();
    emit finished();
    peerSocket->disconnect(this);
    peerSocket->abort();
    deleteLater();
}
