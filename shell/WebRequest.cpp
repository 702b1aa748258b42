#include "shell/WebRequest.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

WebRequest::WebRequest(QObject* parent) : QObject(parent), m_manager(new QNetworkAccessManager(this)) {}

WebRequest::~WebRequest() { abort(); }

void WebRequest::abort()
{
    if (QNetworkReply* r = m_reply.data()) {
        m_reply = nullptr;
        r->disconnect(this);
        r->abort();
        r->deleteLater();
    }
}

void WebRequest::get(const QUrl& url, int timeoutMs)
{
    abort();
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty()) {
        // Reported like any other failure, but after get() returns.
        const Result failed{false, {}, QStringLiteral("Not an http:// address: %1").arg(url.toString())};
        QMetaObject::invokeMethod(
            this, [this, failed] { emit finished(failed); }, Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_manager->get(request);
    connect(m_reply, &QNetworkReply::finished, this, &WebRequest::onFinished);
}

void WebRequest::onFinished()
{
    QNetworkReply* reply = m_reply.data();
    if (!reply)
        return;
    m_reply = nullptr;
    reply->deleteLater();
    Result result;
    if (reply->error() == QNetworkReply::NoError) {
        result.ok = true;
        result.body = reply->readAll();
    } else if (reply->error() == QNetworkReply::OperationCanceledError) {
        // Only the transfer time-out cancels a reply we still own.
        result.error = QStringLiteral("Timed out: %1").arg(reply->url().toString());
    } else {
        result.error = reply->errorString();
    }
    emit finished(result);
}

WebRequest::Result WebRequest::fetch(const QUrl& url, int timeoutMs)
{
    WebRequest request;
    Result result;
    QEventLoop loop;
    connect(&request, &WebRequest::finished, &loop, [&](const Result& r) {
        result = r;
        loop.quit();
    });
    request.get(url, timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return result;
}
