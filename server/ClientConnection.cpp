#include "server/ClientConnection.h"

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/Settings.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {
int handlersAlive = 0;

QString addressText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}
} // namespace

ClientConnection::ClientConnection(std::shared_ptr<ServingState> state, QTcpSocket* socket, QObject* parent)
    : QObject(parent)
    , peerSocket(socket)
    , m_state(std::move(state))
{
    ++m_state->liveHandlers;
    ++handlersAlive;
    peerSocket->setParent(this);
    closeDelay.setInterval(750);
    closeDelay.setSingleShot(true);
    announcePeerDelay.setInterval(750);
    announcePeerDelay.setSingleShot(true);
    idleTimer.setInterval(30000);
    connect(&closeDelay, &QTimer::timeout, this, &ClientConnection::onCloseDelay);
    connect(&announcePeerDelay, &QTimer::timeout, this, &ClientConnection::onAnnouncePeer);
    connect(&idleTimer, &QTimer::timeout, this, &ClientConnection::onIdleTimeout);
    // Bounded reads: a peer that pipelines faster than it reads its answers is
    // held back by TCP instead of by this process's memory.
    peerSocket->setReadBufferSize(64 * 1024);
    connect(peerSocket, &QTcpSocket::readyRead, this, &ClientConnection::onReadyRead);
    connect(peerSocket, &QTcpSocket::bytesWritten, this, &ClientConnection::serveQueue);
    connect(peerSocket, &QTcpSocket::disconnected, this, &ClientConnection::onDisconnected);
    connect(peerSocket, &QTcpSocket::errorOccurred, this, &ClientConnection::onSocketError);

    if (globals().GoingOffline) {
        unload();
        return;
    }
    const Globals& g = globals();
    int w = 0;
    int h = 0;
    if (g.ResizeFrames && FrameSizeForCode(g.FrameSizeCode, w, h)) {
        m_size = QSize(w, h);
        m_stretch = true;
    } else {
        m_size = m_state->referenceFrame;
    }
    if (!m_size.isEmpty())
        m_frameBuffer.Create(m_size.width(), m_size.height());
    announcePeerDelay.start();
    idleTimer.start();
    // Data may have come with the connection already.
    if (peerSocket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::onReadyRead, Qt::QueuedConnection);
}

ClientConnection::~ClientConnection()
{
    --m_state->liveHandlers;
    --handlersAlive;
}

int ClientConnection::liveCount() { return handlersAlive; }

void ClientConnection::onReadyRead()
{
    if (m_unloaded || m_closing)
        return;
    if (globals().GoingOffline) {
        closeSocket();
        unload();
        return;
    }
    idleTimer.start();
    if (!m_queue.isEmpty())
        return; // still answering; the rest waits in the (bounded) socket buffer
    m_queue = m_collector.feed(peerSocket->readAll());
    if (m_collector.overflow()) {
        m_queue.clear();
        peerSocket->abort();
        unload();
        return;
    }
    serveQueue();
}

void ClientConnection::serveQueue()
{
    while (!m_queue.isEmpty() && !m_unloaded && !m_closing) {
        if (peerSocket->bytesToWrite() >= kMaxUnsentBytes)
            return; // bytesWritten brings us back
        if (!handle(m_queue.takeFirst())) {
            m_queue.clear();
            return;
        }
    }
    // Requests that arrived while the queue was being answered.
    if (m_queue.isEmpty() && !m_unloaded && !m_closing && peerSocket->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::onReadyRead, Qt::QueuedConnection);
}

bool ClientConnection::handle(const QByteArray& data)
{
    const Globals& g = globals();
    switch (request::classify(data, g.ChatDisabled)) {
    case request::Kind::Diag: {
        const QByteArray echo = request::diagEcho(data);
        if (!echo.isEmpty())
            peerSocket->write(echo);
        closeSocket();
        unload();
        return false;
    }
    case request::Kind::ChatReject:
        emit noticeWanted(QStringLiteral("You chat request is rejected.."));
        closeSocket();
        unload();
        return false;
    case request::Kind::ChatAccept:
        emit flashingWanted(false);
        if (enginehooks::hasChatAcceptHandler()) {
            const quint16 port = enginehooks::chatAccept(request::chatAcceptName(data));
            peerSocket->write(QByteArray::number(port) + "\r\n");
        }
        closeSocket();
        unload();
        return false;
    case request::Kind::ChatRequest: {
        peerSocket->write(request::chatPageResponse(g.AppName));
        const QString peer = addressText(peerSocket->peerAddress());
        closeSocket();
        enginehooks::chatRequest(request::chatRequestString(data), peer);
        closeDelay.start();
        return false;
    }
    case request::Kind::ChatRefused:
        peerSocket->write(request::chatRejectReply());
        closeSocket();
        closeDelay.start();
        return false;
    case request::Kind::Frame:
        sendFrame();
        return true;
    }
    return true;
}

void ClientConnection::sendFrame()
{
    emit flashingWanted(true);
    FrameComposer::Request r;
    r.capture = m_state->camera;
    r.size = m_size;
    r.stretch = m_stretch;
    r.templates = &m_state->templates;
    // The count is read per request; the templates are those the engine loaded.
    r.labelCount = Settings::instance().get(setting::LabelCount);
    r.generation = m_state->templateGeneration;
    r.quality = globals().JpegQuality;
    const QByteArray jpeg = m_state->composer.compose(r, m_frameBuffer);
    peerSocket->write(request::frameHeader(jpeg.size()) + jpeg);
}

void ClientConnection::closeSocket()
{
    m_closing = true;
    // Flushes what was written, then closes.
    if (peerSocket->state() != QAbstractSocket::UnconnectedState)
        peerSocket->disconnectFromHost();
}

void ClientConnection::onDisconnected()
{
    if (m_unloaded)
        return;
    if (m_closing) // our own close has finished
        return;
    m_closing = true;
    peerSocket->abort();
    closeDelay.start();
    removePeer();
}

void ClientConnection::onSocketError()
{
    if (m_unloaded || peerSocket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    const QString description = peerSocket->errorString();
    m_closing = true;
    peerSocket->abort();
    if (globals().ShowStreamErrors)
        emit errorOccurred(QStringLiteral("Velora Error: \r\nWinsock: ") + description);
    closeDelay.start();
    removePeer();
}

void ClientConnection::onCloseDelay()
{
    emit flashingWanted(false);
    unload();
}

void ClientConnection::onAnnouncePeer()
{
    if (m_unloaded || !globals().ActiveConnectionsOpen)
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
    if (m_unloaded)
        return;
    m_unloaded = true;
    closeDelay.stop();
    announcePeerDelay.stop();
    idleTimer.stop();
    removePeer();
    m_frameBuffer.clear();
    if (Capture* cap = m_state->camera)
        cap->setPreview(true);
    emit finished();
    if (peerSocket->state() == QAbstractSocket::UnconnectedState || peerSocket->bytesToWrite() == 0) {
        peerSocket->abort();
        deleteLater();
        return;
    }
    // Let the last answer reach the peer; the idle timer ends a peer that
    // never reads.
    connect(peerSocket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(&idleTimer, &QTimer::timeout, this, &QObject::deleteLater);
    peerSocket->disconnectFromHost();
    idleTimer.start();
}
