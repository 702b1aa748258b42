#include "community/Registration.h"

#include "shell/WebRequest.h"

#include <QUrlQuery>

namespace signup {

namespace {
bool containsAny(const QString& text, const QString& characters)
{
    for (const QChar c : characters) {
        if (text.contains(c))
            return true;
    }
    return false;
}
} // namespace

QString check(const SignupForm& f)
{
    if (f.password != f.passwordAgain)
        return QStringLiteral("Passwords doesn't match. Please re-enter passwords");
    if (containsAny(f.user, QStringLiteral("' \u00A0&?^%$#@!():\"")))
        return QStringLiteral("Username contains invalid characters");
    if (containsAny(f.password, QStringLiteral("'&")))
        return QStringLiteral("Password contains invalid characters");
    if (containsAny(f.name, QStringLiteral("'&")))
        return QStringLiteral("Name contains invalid characters");
    if (containsAny(f.email, QStringLiteral("&'")))
        return QStringLiteral("E-Mail contains invalid characters");
    if (!f.email.contains(u'@') || !f.email.contains(u'.') || f.email.size() < 4)
        return QStringLiteral("Invalid E-Mail address");
    if (f.name.size() < 3)
        return QStringLiteral("Invalid Name");
    if (f.user.size() < 3)
        return QStringLiteral("Invalid Username (minimal 3 characters)");
    if (f.password.size() < 4)
        return QStringLiteral("Invalid Password (minimal 4 characters)");
    if (!f.termsAccepted)
        return QStringLiteral("You must agree the terms && conditions");
    return {};
}

QUrl requestUrl(const QString& serverHost, const SignupForm& f)
{
    QUrl url(QStringLiteral("http://") + serverHost + QStringLiteral("/client_v3/register.php"));
    // Every value fully encoded: QUrlQuery would leave "+" (a blank to PHP-style
    // readers) and other delimiters as they are.
    const auto enc = [](const QString& v) { return QString::fromLatin1(QUrl::toPercentEncoding(v)); };
    const QString query = QStringLiteral("u=") + enc(f.user + u'.' + f.domain) + QStringLiteral("&p=") +
                          enc(f.password) + QStringLiteral("&n=") + enc(f.name) + QStringLiteral("&e=") +
                          enc(f.email) + QStringLiteral("&a=") +
                          (f.adult ? QStringLiteral("True") : QStringLiteral("False"));
    url.setQuery(query, QUrl::StrictMode);
    return url;
}

Answer parseAnswer(const QByteArray& body)
{
    QByteArray text = body;
    text.replace("\r\n", "");
    if (text == "ACCOUNT CREATED")
        return Answer::Created;
    if (text == "USERNAME IN USE")
        return Answer::UserNameInUse;
    if (text == "EMAIL IN USE")
        return Answer::EmailInUse;
    if (text == "NA")
        return Answer::DomainClosed;
    return Answer::Unknown;
}

QString refusalMessage(Answer answer, const QString& domain, const QString& support)
{
    switch (answer) {
    case Answer::UserNameInUse:
        return QStringLiteral("Username is in use by another member");
    case Answer::EmailInUse:
        return QStringLiteral("E-Mail is in use by another account. Contact ") + support +
               QStringLiteral(" if you have forgot you password");
    case Answer::DomainClosed:
        return QStringLiteral("Domain ") + domain +
               QStringLiteral(" is currently not avaible for new accounts. Try few days later or "
                              "register on another domain.");
    case Answer::Created:
    case Answer::Unknown:
        break;
    }
    return {};
}

QString supportAddress() { return QStringLiteral("support@vantora.example"); }

int nextBusyValue(int value) { return (value == 100 ? 0 : value) + 10; }

QString safeError(const QString& error, const QUrl& url, const QString& password)
{
    QString text = error;
    // The address without its query says where the request went and nothing more.
    const QString shown = url.toString(QUrl::RemoveQuery);
    for (const QString& form : {url.toString(), url.toString(QUrl::FullyEncoded), url.toDisplayString()})
        text.replace(form, shown);
    if (!password.isEmpty()) {
        for (const QString& form : {password, QString::fromLatin1(QUrl::toPercentEncoding(password))})
            text.replace(form, QStringLiteral("****"));
    }
    return text;
}

} // namespace signup

Registration::Registration(Callbacks callbacks, QObject* parent)
    : QObject(parent), m_callbacks(std::move(callbacks))
{}

Registration::~Registration() = default;

bool Registration::sign(const SignupForm& form)
{
    if (m_busy)
        return false;
    setBusy(true);
    const QString problem = signup::check(form);
    if (!problem.isEmpty()) {
        if (m_callbacks.refused)
            m_callbacks.refused(problem);
        setBusy(false);
        return true;
    }
    m_form = form;
    m_url = signup::requestUrl(m_host, form);
    send();
    return true;
}

void Registration::send()
{
    if (!m_request) {
        m_request = new WebRequest(this);
        connect(m_request, &WebRequest::finished, this,
                [this](const WebRequest::Result& r) { onFinished(r.ok, r.body, r.error); });
    }
    emit sending();
    m_request->get(m_url, m_timeoutMs);
}

void Registration::onFinished(bool ok, const QByteArray& body, const QString& error)
{
    if (!ok) {
        const QString message = QStringLiteral("ERROR: ") + signup::safeError(error, m_url, m_form.password);
        if (m_callbacks.retry && m_callbacks.retry(message)) {
            send();
            return;
        }
        setBusy(false);
        return;
    }
    const signup::Answer answer = signup::parseAnswer(body);
    switch (answer) {
    case signup::Answer::Created:
        // Idle first: the callback may close the window that owns us.
        setBusy(false);
        if (m_callbacks.created)
            m_callbacks.created(m_form);
        return;
    case signup::Answer::UserNameInUse:
    case signup::Answer::EmailInUse:
    case signup::Answer::DomainClosed:
        if (m_callbacks.refused)
            m_callbacks.refused(signup::refusalMessage(answer, m_form.domain, signup::supportAddress()));
        break;
    case signup::Answer::Unknown:
        break;
    }
    setBusy(false);
}

void Registration::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    emit busyChanged(busy);
}
