#pragma once
// Fetches a whole page over http:// with a time-out: the body, or an error.

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

class WebRequest : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        bool ok = false;
        QByteArray body;
        QString error; // empty when ok
    };

    explicit WebRequest(QObject* parent = nullptr);
    ~WebRequest() override;

    // Starts a GET; finished() follows exactly once. A request still running is abandoned.
    void get(const QUrl& url, int timeoutMs = 30000);
    void abort();
    bool running() const { return !m_reply.isNull(); }

    // For callers that must have the page before they go on: runs a local
    // event loop (other events keep being handled) until the answer is there.
    static Result fetch(const QUrl& url, int timeoutMs = 30000);

signals:
    void finished(const WebRequest::Result& result);

private:
    void onFinished();
    QNetworkAccessManager* m_manager = nullptr;
    QPointer<QNetworkReply> m_reply;
};
