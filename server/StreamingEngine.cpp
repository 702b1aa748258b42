#include "server/StreamingEngine.h"

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/Product.h"
#include "capture/Prompt.h"
#include "shell/Settings.h"
#include "server/ShellLink.h"

#include <QRandomGenerator>

namespace {
QHostAddress listenAddress = QHostAddress::AnyIPv4;
FrameComposer::Clock composerClock;
int handlerLimit = StreamingEngine::DefaultMaxHandlers;

QString ipText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString siteAddress() { return product::pageUrl(product::Page::Site).toString(); }
} // namespace

StreamingEngine::StreamingEngine(QObject* parent)
    : QObject(parent)
    , m_state(std::make_shared<ServingState>())
{
    Timer2.setInterval(10);
    Timer2.setSingleShot(true);
    Timer3.setInterval(60000);
    connect(&Timer2, &QTimer::timeout, this, &StreamingEngine::Timer2_Timer);
    connect(&Timer3, &QTimer::timeout, this, &StreamingEngine::Timer3_Timer);
    connect(&Winsock1, &QTcpServer::newConnection, this, &StreamingEngine::Winsock1_ConnectionRequest);
    connect(&Winsock2, &QTcpSocket::connected, this, &StreamingEngine::Winsock2_Connect);
    connect(&Winsock2, &QTcpSocket::readyRead, this, &StreamingEngine::Winsock2_DataArrival);
    connect(&Winsock2, &QTcpSocket::disconnected, &Winsock2, &QTcpSocket::abort);
    connect(&Winsock2, &QTcpSocket::errorOccurred, this, &StreamingEngine::Winsock2_Error);
    connect(&Winsock3, &QTcpSocket::connected, this, &StreamingEngine::Winsock3_Connect);
    connect(&Winsock3, &QTcpSocket::readyRead, this, &StreamingEngine::Winsock3_DataArrival);
    connect(&Winsock3, &QTcpSocket::disconnected, &Winsock3, &QTcpSocket::abort);
    connect(&Winsock3, &QTcpSocket::errorOccurred, this, &StreamingEngine::Winsock3_Error);
    connect(&Winsock4, &QTcpSocket::connected, this, &StreamingEngine::Winsock4_Connect);
    connect(&Winsock4, &QTcpSocket::readyRead, this, &StreamingEngine::Winsock4_DataArrival);
    connect(&labelEvents(), &LabelEvents::reloadRequested, this, &StreamingEngine::reloadLabels);
    if (composerClock)
        m_state->composer.setClock(composerClock);
}

StreamingEngine::~StreamingEngine()
{
    seams::engineUnloaded(this);
}

void StreamingEngine::registerFactory()
{
    seams::setEngineFactory([] { return new StreamingEngine; });
}

void StreamingEngine::setListenAddress(const QHostAddress& address) { listenAddress = address; }
void StreamingEngine::setMaxHandlers(int count) { handlerLimit = count; }
int StreamingEngine::maxHandlers() { return handlerLimit; }
void StreamingEngine::setClock(FrameComposer::Clock clock) { composerClock = std::move(clock); }

void StreamingEngine::load()
{
    Globals& g = globals();
    if (g.GoingOffline) {
        unload();
        return;
    }
    g.AccountName = GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username"))
        + u'.' + GetSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"));
    g.AccountPassword = GetSetting(QStringLiteral("Streaming"), QStringLiteral("Password"));

    if (g.AccountName == QLatin1String(".")) {
        shelllink::clearAccountBoxes();
        shelllink::switchOffline();
        const auto answer = MessageBox::question(
            shelllink::mainWidget(), g.AppName,
            QStringLiteral("You need to create an account at ") + g.AppName
                + QStringLiteral(" to use streaming. Would you create an account?"));
        if (answer == QMessageBox::Yes)
            enginehooks::openSignup(shelllink::mainWidget());
        else
            MessageBox::information(shelllink::mainWidget(), g.AppName,
                                    QStringLiteral("You can create an account later in the configuration "
                                                   "window --> Streaming Options"));
        return;
    }

    g.JpegQuality = settingInt(QStringLiteral("JPEG"), QStringLiteral("Quality"), 20);
    g.ResizeFrames = settingBool(QStringLiteral("JPEG"), QStringLiteral("ResChange"), false);
    g.FrameSizeCode = qint16(settingInt(QStringLiteral("JPEG"), QStringLiteral("ResCode"), 0));
    g.ShowStreamErrors = settingBool(QStringLiteral("Settings"), QStringLiteral("StreamError"), false);
    minutesSinceLogon = 0;

    Winsock1.close();
    const int port = settingInt(QStringLiteral("Streaming"), QStringLiteral("Port"), 2156);
    if (port < 0 || port > 65535 || !Winsock1.listen(listenAddress, quint16(port))) {
        const QString reason = port < 0 || port > 65535 ? QStringLiteral("Invalid port number %1").arg(port)
                                                        : Winsock1.errorString();
        MessageBox::plain(shelllink::mainWidget(), g.AppName, reason);
        unload();
        return;
    }

    shelllink::setStatus(QStringLiteral("Logging on..."));
    Timer2.start();
    Timer3.stop();

    shelllink::setAddress(QStringLiteral("http://") + g.AccountName + u'/');
    shelllink::setStatusLabelsVisible(true);

    loadTemplates();
    if (!g.ProgramModeAlt)
        takeReferenceFrame();
}

void StreamingEngine::loadTemplates()
{
    m_state->templates = loadTextLabels();
    ++m_state->templateGeneration;
}

void StreamingEngine::reloadLabels()
{
    if (m_unloaded)
        return;
    loadTemplates();
}

void StreamingEngine::takeReferenceFrame()
{
    Capture* cap = shelllink::capture();
    if (!cap)
        return;
    cap->grabFrame();
    const QImage frame = cap->frame();
    const QSize size = frame.isNull() ? cap->frameSize() : frame.size();
    if (!size.isEmpty()) {
        m_state->referenceFrame = size;
        return;
    }
    // A camera that was only just opened has no frame yet: the first one that
    // arrives gives the size, instead of serving a corner of it for the run.
    auto once = std::make_shared<QMetaObject::Connection>();
    *once = connect(cap, &Capture::frameArrived, this, [this, cap, once] {
        QObject::disconnect(*once);
        if (!cap->frame().isNull())
            m_state->referenceFrame = cap->frame().size();
    });
}

void StreamingEngine::Winsock1_ConnectionRequest()
{
    while (QTcpSocket* socket = Winsock1.nextPendingConnection()) {
        if (globals().GoingOffline) {
            socket->abort();
            socket->deleteLater();
            Winsock1.close();
            unload();
            return;
        }
        if (m_state->liveHandlers >= handlerLimit) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        emit handlerCreated(new ClientConnection(m_state, socket));
    }
}

void StreamingEngine::connectToDirectory(QTcpSocket& socket)
{
    const QString host = globals().ServerHost;
    socket.abort();
    socket.connectToHost(product::hostOf(host), product::portOf(host));
}

void StreamingEngine::startLogon()
{
    m_answer.reset();
    connectToDirectory(Winsock2);
}

void StreamingEngine::Timer2_Timer()
{
    Timer2.stop();
    startLogon();
}

void StreamingEngine::Timer3_Timer()
{
    ++minutesSinceLogon;
    if (minutesSinceLogon == 5) {
        startLogon();
        minutesSinceLogon = 0;
    }
}

void StreamingEngine::Winsock2_Connect()
{
    const Globals& g = globals();
    // The address and port of our listener as the local system sees them: the
    // interface that reaches the directory service, and the port we listen on.
    const QByteArray bytes = logon::requestBytes(
        logon::logonPath(g.AccountName, g.AccountPassword, ipText(Winsock2.localAddress()), listenPort()),
        g.AppName, g.ServerHost);
    Winsock2.write(bytes);
    emit logonSent(bytes);
}

void StreamingEngine::Winsock2_DataArrival()
{
    Globals& g = globals();
    g.LoggedIn = true;
    const logon::LogonAnswer::Result r = m_answer.feed(Winsock2.readAll(), g.DisableCheck);
    using V = logon::LogonAnswer::Verdict;
    switch (r.verdict) {
    case V::Waiting:
        break;
    case V::DbDown:
        shelllink::showError(logon::dbDownMessage());
        Winsock2.abort();
        g.LoggedIn = false;
        endOnline();
        break;
    case V::User:
    case V::Pass:
        refuse(r.verdict == V::User, r.body);
        break;
    case V::NoCheck:
        shelllink::setStatus(QStringLiteral("OK, NO CHECK"));
        Timer3.start();
        break;
    case V::Address:
        Winsock2.abort();
        g.PublicAddress = r.address;
        Winsock3.abort();
        Winsock3.connectToHost(r.address, r.port);
        break;
    case V::Nothing:
        break;
    }
    emit logonAnswered(r.verdict);
}

void StreamingEngine::refuse(bool user, const QString& label)
{
    Timer3.stop();
    shelllink::setStatus(label);
    shelllink::showError(logon::refusedMessage(user));
    Winsock2.abort();
    globals().LoggedIn = false;
    endOnline();
}

void StreamingEngine::endOnline()
{
    // The online switch goes off (its handler logs off through us), then we
    // make sure ourselves.
    QPointer<StreamingEngine> self(this);
    shelllink::switchOffline();
    if (self)
        logOff();
}

void StreamingEngine::Winsock2_Error()
{
    if (Winsock2.error() == QAbstractSocket::RemoteHostClosedError)
        return;
    shelllink::showError(logon::connectFailedMessage(Winsock2.errorString()));
    Winsock2.abort();
}

void StreamingEngine::Winsock3_Connect()
{
    reachabilityToken = int(QRandomGenerator::global()->bounded(999999)) + 1;
    Winsock3.write(logon::checkLine(reachabilityToken));
}

void StreamingEngine::Winsock3_DataArrival()
{
    Timer3.start();
    const qint64 number = logon::echoNumber(Winsock3.readAll());
    QString verdict;
    if (number == reachabilityToken) {
        verdict = QStringLiteral("OK");
        shelllink::setStatus(verdict);
        if (ipText(Winsock3.localAddress()) != ipText(Winsock3.peerAddress()))
            globals().BehindRouter = true;
    } else {
        verdict = QStringLiteral("OK, INCORRECT ID");
        shelllink::showError(logon::checkMismatchMessage(siteAddress()));
        shelllink::setStatus(verdict);
    }
    Winsock3.abort();
    emit checkFinished(verdict);
}

void StreamingEngine::Winsock3_Error()
{
    if (Winsock3.error() == QAbstractSocket::RemoteHostClosedError)
        return;
    shelllink::showError(logon::checkFailedMessage(Winsock3.errorString(), siteAddress()));
    shelllink::setStatus(QStringLiteral("NO CON"));
    Winsock3.abort();
    emit checkFinished(QStringLiteral("NO CON"));
}

void StreamingEngine::logOff()
{
    if (m_unloaded)
        return;
    Globals& g = globals();
    if (!g.LoggedIn) {
        unload();
        return;
    }
    Timer2.stop();
    Timer3.stop();
    shelllink::flash(false);
    g.GoingOffline = true;
    Winsock2.abort();
    Winsock3.abort();
    connectToDirectory(Winsock4);
    g.LoggedIn = false;
}

void StreamingEngine::Winsock4_Connect()
{
    const Globals& g = globals();
    const QByteArray bytes = logon::requestBytes(
        logon::logoffPath(g.AccountName, g.AccountPassword), g.AppName, g.ServerHost);
    Winsock4.write(bytes);
    emit logoffSent(bytes);
}

void StreamingEngine::Winsock4_DataArrival()
{
    Winsock4.readAll();
    shelllink::setStatusLabelsVisible(false);
    unload();
}

void StreamingEngine::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Timer2.stop();
    Timer3.stop();
    Winsock1.close();
    Winsock2.abort();
    Winsock3.abort();
    Winsock4.abort();
    seams::engineUnloaded(this);
    emit unloaded();
    deleteLater();
}
