#pragma once
// Creating an account on the directory: the local checks, the request and
// what each answer means. No widgets; the wizard window shows what this says.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>

class WebRequest;

struct SignupForm
{
    QString user;
    QString password;
    QString passwordAgain;
    QString name;
    QString email;
    QString domain;
    bool termsAccepted = false;
    bool adult = false;
};

namespace signup {

// The first local check that fails, as the message the user reads; empty
// when the form may be sent. Nothing is trimmed: blanks count.
QString check(const SignupForm& form);

// The registration address on `serverHost` ("host" or "host:port"), every
// query value percent-encoded so that blanks, "+", "&" or "#" arrive as typed.
QUrl requestUrl(const QString& serverHost, const SignupForm& form);

enum class Answer { Created, UserNameInUse, EmailInUse, DomainClosed, Unknown };
// Line ends are dropped, then the words are compared exactly.
Answer parseAnswer(const QByteArray& body);

// The message for a refusal; empty for Created and Unknown.
QString refusalMessage(Answer answer, const QString& domain, const QString& supportAddress);

// The address members write to when they forgot their password.
QString supportAddress();

// The busy bar: 10, 20, ... 100, then 10 again.
int nextBusyValue(int value);

// Text of a failed request that is safe to show: the request's address (and
// with it the password) never appears, whatever the network layer put in it.
QString safeError(const QString& error, const QUrl& url, const QString& password);

} // namespace signup

// One registration at a time. sign() checks the form, sends the request and
// reports through the callbacks below; while busy, a second sign() is ignored.
class Registration : public QObject
{
    Q_OBJECT
public:
    struct Callbacks
    {
        // A check or an answer refused the account: show the text, back to idle.
        std::function<void(const QString& message)> refused;
        // The directory could not be reached: true to send again, false to give up.
        std::function<bool(const QString& message)> retry;
        // The account exists now.
        std::function<void(const SignupForm& form)> created;
    };

    explicit Registration(Callbacks callbacks, QObject* parent = nullptr);
    ~Registration() override;

    void setServerHost(const QString& host) { m_host = host; }
    void setTimeout(int ms) { m_timeoutMs = ms; }
    bool busy() const { return m_busy; }

    // Starts a registration. False when one is running already.
    bool sign(const SignupForm& form);

signals:
    void busyChanged(bool busy);
    // Each attempt, the first and every retry, right before it goes out.
    void sending();

private:
    void send();
    void onFinished(bool ok, const QByteArray& body, const QString& error);
    void setBusy(bool busy);

    Callbacks m_callbacks;
    QString m_host;
    int m_timeoutMs = 30000;
    bool m_busy = false;
    SignupForm m_form;
    QUrl m_url;
    WebRequest* m_request = nullptr;
};
