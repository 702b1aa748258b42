#pragma once
// One connection handler per accepted connection: it owns the socket and a
// frame buffer, answers what arrives, and removes itself after a chat or
// check answer, when the peer closes, on a socket error, or after 30 s idle.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <memory>

#include "server/FrameComposer.h"
#include "server/ConnectionProtocol.h"
#include "image/FrameBuffer.h"

class Capture;
class QTcpSocket;

// What the engine shares with its handlers. Handlers may outlive the engine
// (they end by their own timers), so they hold this, not the engine.
struct ServingState
{
    QSize referenceFrame{320, 240};
    QList<TextLabel> templates;
    quint64 templateGeneration = 0;
    FrameComposer composer;
    int liveHandlers = 0;
    QPointer<Capture> camera; // frames come from here; null serves blank frames
};

class ClientConnection : public QObject
{
    Q_OBJECT
public:
    // Takes over the accepted socket.
    ClientConnection(std::shared_ptr<ServingState> state, QTcpSocket* socket, QObject* parent = nullptr);
    ~ClientConnection() override;

    QTcpSocket* peerSocket = nullptr;
    QTimer closeDelay; // delayed self-removal
    QTimer announcePeerDelay; // registers the peer in the active connections list
    QTimer idleTimer; // idle timeout
    FrameBuffer m_frameBuffer;
    QString peerAddress;

    // The size frames are served at on this connection.
    QSize servedSize() const { return m_size; }
    bool unloaded() const { return m_unloaded; }
    // Bytes of a request still waiting for the rest of its header.
    qsizetype pendingBytes() const { return m_collector.pending(); }
    // Complete requests not answered yet: a peer that sends faster than it
    // reads waits until its answers have gone out.
    qsizetype queuedRequests() const { return m_queue.size(); }
    // Answers written but not yet sent; kept under a bound per connection.
    static constexpr qint64 kMaxUnsentBytes = 2 * 1024 * 1024;
    void unload();
    // Handlers alive in the program, of every engine so far.
    static int liveCount();

    void onReadyRead();
    void onDisconnected();
    void onSocketError();
    void onCloseDelay();
    void onAnnouncePeer();
    void onIdleTimeout();

signals:
    void finished();
    void flashingWanted(bool on);              // a browser is watching, or stopped
    void errorOccurred(const QString& message); // for the error window
    void noticeWanted(const QString& text);     // a message the user confirms

private:
    // Handles one piece; false when the connection is done with.
    bool handle(const QByteArray& data);
    // Answers queued requests while the unsent answers stay under the bound.
    void serveQueue();
    void sendFrame();
    void closeSocket();
    void removePeer();

    std::shared_ptr<ServingState> m_state;
    request::Collector m_collector;
    QList<QByteArray> m_queue;
    QSize m_size;
    bool m_stretch = false;
    bool m_unloaded = false;
    bool m_peerRemoved = false;
    bool m_closing = false;
};
