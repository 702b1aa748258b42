#pragma once
// One connection handler per accepted connection: it owns the socket and a
// small read buffer, answers what arrives, and ends after a chat or check
// answer, after an answer to a request that asked to close, when the peer
// closes, on a socket error, or after 30 s idle. All handlers of an engine
// live in its ServingState, which bounds them together and ends them with it.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QTimer>
#include <memory>

#include "server/ConnectionProtocol.h"
#include "server/FrameComposer.h"

class Capture;
class QTcpSocket;
class ClientConnection;

// What the engine shares with its handlers: what serving needs (reference
// size, label templates, the composer with the last answer) and the handlers
// themselves, so the cap, the deadlines and the memory bounds hold across all.
class ServingState : public QObject
{
    Q_OBJECT
public:
    ServingState();
    ~ServingState() override; // ends every handler still open

    QSize referenceFrame{320, 240};
    QList<TextLabel> templates;
    quint64 templateGeneration = 0;
    FrameComposer composer;
    int liveHandlers = 0;     // open connections, the ones the cap counts
    QPointer<Capture> camera; // frames come from here; null serves blank frames

    // A handler for the accepted socket. At the cap, the connection that has
    // waited longest without a request under way gives way (idle keep-alive
    // ones first, then ones whose request has not come in whole). Never null.
    ClientConnection* admit(QTcpSocket* socket, int cap);
    // Closes every connection now (going offline, shutting down).
    void endConnections();
    const QList<ClientConnection*>& connections() const { return m_connections; }

    // The frame answer for a request now: the cached one while nothing changed.
    const FrameComposer::Answer& frameAnswer();

    // Deadlines: a header must be complete this long after its first byte; a
    // word that may still become a request is answered as text after this
    // quiet; a connection without data for this long is closed; the peer is
    // listed in the active connections this long after it connected.
    static constexpr qint64 kHeaderDeadlineMs = 10000;
    static constexpr qint64 kQuietMs = 1000;
    static constexpr qint64 kIdleMs = 30000;
    static constexpr qint64 kAnnounceMs = 750;
    // Unsent answers of all connections together; a connection over its own
    // or over this bound answers nothing more until bytes have gone out.
    static constexpr qint64 kMaxUnsentTotal = 24 * 1024 * 1024;
    // Bytes read and not answered yet, of all connections together; over it,
    // a connection that holds some already reads no more until answers went out.
    static constexpr qint64 kMaxBufferedTotal = 8 * 1024 * 1024;
    qint64 unsentTotal() const { return m_unsent; }
    // Bytes read from peers and not answered yet, of all connections.
    qint64 bufferedTotal() const { return m_buffered; }

    // Milliseconds of a monotonic clock, the one the deadlines use.
    static qint64 clockMs();
    // Applies the deadlines as of `nowMs` (the sweep timer calls it).
    void sweep(qint64 nowMs);
    QTimer sweepTimer;
    QTimer flashOffDelay; // the tray stops flashing 750 ms after a close

signals:
    void flashingWanted(bool on);

private:
    friend class ClientConnection;
    void remove(ClientConnection* c);
    void addUnsent(qint64 delta);
    void wakeWaiting();
    void onFlashOff();

    QList<ClientConnection*> m_connections;
    QList<QPointer<ClientConnection>> m_waiting; // held back by the total bound
    qint64 m_unsent = 0;
    qint64 m_buffered = 0;
    int m_labelCount = 0;
    qint64 m_labelCountSecond = -1;
    quint64 m_labelCountGeneration = 0;
};

class ClientConnection : public QObject
{
    Q_OBJECT
public:
    // Takes over the accepted socket; ServingState::admit makes these.
    ClientConnection(ServingState& state, QTcpSocket* socket);
    ~ClientConnection() override;

    QTcpSocket* peerSocket = nullptr;
    QString peerAddress;

    bool unloaded() const { return m_ended; }
    ServingState& state() const { return m_state; }
    // Bytes of a request still waiting for the rest of its header.
    qsizetype pendingBytes() const { return m_collector.pending(); }
    // Complete requests not answered yet: a peer that sends faster than it
    // reads waits until its answers have gone out.
    qsizetype queuedRequests() const { return m_queue.size() - m_next; }
    // Answers written but not yet sent; kept under a bound per connection
    // (and, all together, under ServingState::kMaxUnsentTotal).
    static constexpr qint64 kMaxUnsentBytes = 512 * 1024;
    qint64 unsentBytes() const { return m_unsent; }
    // Answers completely written to this connection so far.
    int answered() const { return m_answered; }
    // Ends the handler: closes the socket (dropping what was not sent).
    void unload();
    // Handlers alive in the program, of every engine so far.
    static int liveCount();

    void onReadyRead();
    void onBytesWritten(qint64 bytes);
    void onDisconnected();
    void onSocketError();
    void onAnnouncePeer();
    void onIdleTimeout();

signals:
    void finished();
    void flashingWanted(bool on);               // a browser is watching, or stopped
    void errorOccurred(const QString& message); // for the error window
    void noticeWanted(const QString& text);     // a message the user confirms

private:
    friend class ServingState;
    // Answers queued requests while the bounds allow, reads more, again.
    void pump();
    // Handles one piece; false when the connection is done with.
    bool handle(const request::Piece& piece);
    void sendFrame(const request::Piece& piece);
    void write(const QByteArray& bytes);
    // Flushes what was written, then closes; ends once closed.
    void closeSocket();
    void removePeer();
    void enqueue(QList<request::Piece>&& pieces);
    void updateBuffered();
    void syncUnsent();
    // Holds this connection back until the totals allow more.
    void waitForRoom();
    bool idleKeepAlive() const;

    ServingState& m_state;
    request::Collector m_collector;
    QList<request::Piece> m_queue;
    qsizetype m_next = 0; // first unanswered piece in m_queue
    qint64 m_unsent = 0;
    qint64 m_buffered = 0;
    qint64 m_queuedBytes = 0;
    int m_answered = 0;
    qint64 m_openedAt = 0;
    qint64 m_lastData = 0;      // last data arrival
    qint64 m_lastProgress = 0;  // last answer written or sent
    qint64 m_requestStart = -1; // first byte of the unfinished request
    bool m_announced = false;
    bool m_ended = false;
    bool m_peerRemoved = false;
    bool m_closing = false;
    bool m_pumping = false;
    bool m_waiting = false;
};
