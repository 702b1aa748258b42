#include "server/ClientConnection.h"

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "capture/Prompt.h"
#include "shell/Settings.h"
#include "server/ShellLink.h"

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
    , Winsock1(socket)
    , m_state(std::move(state))
{
    ++m_state->liveHandlers;
    ++handlersAlive;
    Winsock1->setParent(this);
    Timer1.setInterval(750);
    Timer1.setSingleShot(true);
    Timer2.setInterval(750);
    Timer2.setSingleShot(true);
    Timer3.setInterval(30000);
    connect(&Timer1, &QTimer::timeout, this, &ClientConnection::Timer1_Timer);
    connect(&Timer2, &QTimer::timeout, this, &ClientConnection::Timer2_Timer);
    connect(&Timer3, &QTimer::timeout, this, &ClientConnection::Timer3_Timer);
    // Bounded reads: a peer that pipelines faster than it reads its answers is
    // held back by TCP instead of by this process's memory.
    Winsock1->setReadBufferSize(64 * 1024);
    connect(Winsock1, &QTcpSocket::readyRead, this, &ClientConnection::Winsock1_DataArrival);
    connect(Winsock1, &QTcpSocket::bytesWritten, this, &ClientConnection::serveQueue);
    connect(Winsock1, &QTcpSocket::disconnected, this, &ClientConnection::Winsock1_Close);
    connect(Winsock1, &QTcpSocket::errorOccurred, this, &ClientConnection::Winsock1_Error);

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
    Timer2.start();
    Timer3.start();
    // Data may have come with the connection already.
    if (Winsock1->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::Winsock1_DataArrival, Qt::QueuedConnection);
}

ClientConnection::~ClientConnection()
{
    --m_state->liveHandlers;
    --handlersAlive;
}

int ClientConnection::liveCount() { return handlersAlive; }

void ClientConnection::Winsock1_DataArrival()
{
    if (m_unloaded || m_closing)
        return;
    if (globals().GoingOffline) {
        closeSocket();
        unload();
        return;
    }
    Timer3.start();
    if (!m_queue.isEmpty())
        return; // still answering; the rest waits in the (bounded) socket buffer
    m_queue = m_collector.feed(Winsock1->readAll());
    if (m_collector.overflow()) {
        m_queue.clear();
        Winsock1->abort();
        unload();
        return;
    }
    serveQueue();
}

void ClientConnection::serveQueue()
{
    while (!m_queue.isEmpty() && !m_unloaded && !m_closing) {
        if (Winsock1->bytesToWrite() >= kMaxUnsentBytes)
            return; // bytesWritten brings us back
        if (!handle(m_queue.takeFirst())) {
            m_queue.clear();
            return;
        }
    }
    // Requests that arrived while the queue was being answered.
    if (m_queue.isEmpty() && !m_unloaded && !m_closing && Winsock1->bytesAvailable() > 0)
        QMetaObject::invokeMethod(this, &ClientConnection::Winsock1_DataArrival, Qt::QueuedConnection);
}

bool ClientConnection::handle(const QByteArray& data)
{
    const Globals& g = globals();
    switch (request::classify(data, g.ChatDisabled)) {
    case request::Kind::Diag: {
        const QByteArray echo = request::diagEcho(data);
        if (!echo.isEmpty())
            Winsock1->write(echo);
        closeSocket();
        unload();
        return false;
    }
    case request::Kind::ChatReject:
        MessageBox::plain(shelllink::mainWidget(), g.AppName, QStringLiteral("You chat request is rejected.."));
        closeSocket();
        unload();
        return false;
    case request::Kind::ChatAccept:
        shelllink::flash(false);
        if (enginehooks::hasChatAcceptHandler()) {
            const quint16 port = enginehooks::chatAccept(request::chatAcceptName(data));
            Winsock1->write(QByteArray::number(port) + "\r\n");
        }
        closeSocket();
        unload();
        return false;
    case request::Kind::ChatRequest: {
        Winsock1->write(request::chatPageResponse(g.AppName));
        const QString peer = addressText(Winsock1->peerAddress());
        closeSocket();
        enginehooks::chatRequest(request::chatRequestString(data), peer);
        Timer1.start();
        return false;
    }
    case request::Kind::ChatRefused:
        Winsock1->write(request::chatRejectReply());
        closeSocket();
        Timer1.start();
        return false;
    case request::Kind::Frame:
        sendFrame();
        return true;
    }
    return true;
}

void ClientConnection::sendFrame()
{
    shelllink::flash(true);
    FrameComposer::Request r;
    r.capture = shelllink::capture();
    r.size = m_size;
    r.stretch = m_stretch;
    r.templates = &m_state->templates;
    // The count is read per request; the templates are those the engine loaded.
    r.labelCount = settingInt(QStringLiteral("Captions"), QStringLiteral("Index"), 0);
    r.generation = m_state->templateGeneration;
    r.quality = globals().JpegQuality;
    const QByteArray jpeg = m_state->composer.compose(r, m_frameBuffer);
    Winsock1->write(request::frameHeader(jpeg.size()) + jpeg);
}

void ClientConnection::closeSocket()
{
    m_closing = true;
    // Flushes what was written, then closes.
    if (Winsock1->state() != QAbstractSocket::UnconnectedState)
        Winsock1->disconnectFromHost();
}

void ClientConnection::Winsock1_Close()
{
    if (m_unloaded)
        return;
    if (m_closing) // our own close has finished
        return;
    m_closing = true;
    Winsock1->abort();
    Timer1.start();
    removePeer();
}

void ClientConnection::Winsock1_Error()
{
    if (m_unloaded || Winsock1->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    const QString description = Winsock1->errorString();
    m_closing = true;
    Winsock1->abort();
    if (globals().ShowStreamErrors)
        shelllink::showError(QStringLiteral("Velora Error: \r\nWinsock: ") + description);
    Timer1.start();
    removePeer();
}

void ClientConnection::Timer1_Timer()
{
    shelllink::flash(false);
    unload();
}

void ClientConnection::Timer2_Timer()
{
    if (m_unloaded || !globals().ActiveConnectionsOpen)
        return;
    RemoteIp = addressText(Winsock1->peerAddress());
    enginehooks::addActiveConnection(RemoteIp);
}

void ClientConnection::Timer3_Timer() { unload(); }

void ClientConnection::removePeer()
{
    if (m_peerRemoved || !globals().ActiveConnectionsOpen)
        return;
    m_peerRemoved = true;
    enginehooks::removeActiveConnection(RemoteIp);
}

void ClientConnection::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Timer1.stop();
    Timer2.stop();
    Timer3.stop();
    removePeer();
    m_frameBuffer.clear();
    if (Capture* cap = shelllink::capture())
        cap->setPreview(true);
    emit finished();
    if (Winsock1->state() == QAbstractSocket::UnconnectedState || Winsock1->bytesToWrite() == 0) {
        Winsock1->abort();
        deleteLater();
        return;
    }
    // Let the last answer reach the peer; the idle timer ends a peer that
    // never reads.
    connect(Winsock1, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(&Timer3, &QTimer::timeout, this, &QObject::deleteLater);
    Winsock1->disconnectFromHost();
    Timer3.start();
}
