#pragma once
// Hands chat requests to invited members' HTTP servers on a few worker threads,
// so the inviter's answer never waits for a slow or absent member. The queue is
// bounded: when it is full the newest request is dropped and reported.

#include <QByteArray>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace directory {

class ChatDelivery
{
public:
    struct Options
    {
        int workers = 2;
        int capacity = 256;
        int connectTimeoutMs = 3000;
        int replyTimeoutMs = 3000;
    };
    // Called from worker threads with one line per delivery (for the log).
    using Reporter = std::function<void(const QString&)>;

    explicit ChatDelivery(Options options, Reporter report = {});
    ChatDelivery() : ChatDelivery(Options{}) {}
    ~ChatDelivery();
    ChatDelivery(const ChatDelivery&) = delete;
    ChatDelivery& operator=(const ChatDelivery&) = delete;

    // The request for a member listening on address:port whose sender
    // descriptor is "_" + address + ":" + port + "_" + name.
    static QByteArray requestBytes(const QString& address, int port, const QByteArray& senderDescriptor);

    // False when the queue is full or the service is stopping.
    bool enqueue(const QString& address, int port, const QByteArray& request);
    // Blocks until every queued delivery has been tried (tests, shutdown).
    void drain();

private:
    struct Job
    {
        QString address;
        int port;
        QByteArray request;
    };
    void run();
    QString deliver(const Job& job) const;

    Options m_options;
    Reporter m_report;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Job> m_queue;
    int m_busy = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

} // namespace directory
