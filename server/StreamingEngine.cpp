#include "server/StreamingEngine.h"

#include "capture/Capture.h"
#include "shell/Globals.h"
#include "shell/OnlineController.h"
#include "shell/Product.h"
#include "shell/Settings.h"

#include <QNetworkInterface>
#include <QRandomGenerator>

namespace {
QHostAddress listenAddress = QHostAddress::AnyIPv4;
FrameComposer::Clock composerClock;
int handlerLimit = StreamingEngine::DefaultMaxHandlers;
int portOverride = -1;

QString ipText(const QHostAddress& address)
{
    bool ok = false;
    const quint32 v4 = address.toIPv4Address(&ok);
    return ok ? QHostAddress(v4).toString() : address.toString();
}

QString siteAddress() { return product::pageUrl(product::Page::Site).toString(); }

// Where viewers on this network reach a listener bound to every interface:
// the first address of an interface that is up, IPv4 first.
QString lanAddress()
{
    QString v6;
    for (const QNetworkInterface& nic : QNetworkInterface::allInterfaces()) {
        const auto flags = nic.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : nic.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol)
                return ip.toString();
            if (v6.isEmpty() && ip.protocol() == QAbstractSocket::IPv6Protocol && !ip.isLinkLocal())
                v6 = ip.toString();
        }
    }
    return v6.isEmpty() ? QStringLiteral("127.0.0.1") : v6;
}
} // namespace

StreamingEngine::StreamingEngine(Capture* camera, QObject* parent)
    : OnlineSession(parent), m_state(std::make_shared<ServingState>())
{
    m_state->camera = camera;
    connect(m_state.get(), &ServingState::flashingWanted, this, &OnlineSession::flashingWanted);
    logonDelay.setInterval(10);
    logonDelay.setSingleShot(true);
    relogonTimer.setInterval(60000);
    logonTimeout.setInterval(LogonTimeoutMs);
    logonTimeout.setSingleShot(true);
    logonRetry.setSingleShot(true);
    logoffTimeout.setInterval(LogonTimeoutMs);
    logoffTimeout.setSingleShot(true);
    connect(&logonDelay, &QTimer::timeout, this, &StreamingEngine::onLogonDelay);
    connect(&relogonTimer, &QTimer::timeout, this, &StreamingEngine::onRelogonTick);
    connect(&logonTimeout, &QTimer::timeout, this, &StreamingEngine::onLogonTimeout);
    connect(&logonRetry, &QTimer::timeout, this, &StreamingEngine::onLogonRetry);
    connect(&logoffTimeout, &QTimer::timeout, this, &StreamingEngine::onLogoffTimeout);
    // Room for bursts of connections while the event loop is busy.
    listener.setListenBacklogSize(1024);
    connect(&listener, &QTcpServer::newConnection, this, &StreamingEngine::onNewConnection);
    connect(&logonSocket, &QTcpSocket::connected, this, &StreamingEngine::onLogonConnected);
    connect(&logonSocket, &QTcpSocket::readyRead, this, &StreamingEngine::onLogonReadyRead);
    connect(&logonSocket, &QTcpSocket::disconnected, this, [this] {
        logonSocket.abort();
        // Closed before a whole answer came: as good as no answer.
        if (logonTimeout.isActive())
            logonFailed(QStringLiteral("The server closed the connection without an answer"));
    });
    connect(&logonSocket, &QTcpSocket::errorOccurred, this, &StreamingEngine::onLogonError);
    connect(&reachabilitySocket, &QTcpSocket::connected, this, &StreamingEngine::onReachabilityConnected);
    connect(&reachabilitySocket, &QTcpSocket::readyRead, this, &StreamingEngine::onReachabilityReadyRead);
    connect(&reachabilitySocket, &QTcpSocket::disconnected, &reachabilitySocket, &QTcpSocket::abort);
    connect(&reachabilitySocket, &QTcpSocket::errorOccurred, this, &StreamingEngine::onReachabilityError);
    connect(&logoffSocket, &QTcpSocket::connected, this, &StreamingEngine::onLogoffConnected);
    connect(&logoffSocket, &QTcpSocket::readyRead, this, &StreamingEngine::onLogoffReadyRead);
    connect(&logoffSocket, &QTcpSocket::errorOccurred, this, &StreamingEngine::onLogoffError);
    connect(&labelEvents(), &LabelEvents::reloadRequested, this, &StreamingEngine::reloadLabels);
    if (composerClock)
        m_state->composer.setClock(composerClock);
}

StreamingEngine::~StreamingEngine() = default;

void StreamingEngine::registerFactory()
{
    OnlineController::setSessionFactory([](Capture* camera) { return new StreamingEngine(camera); });
}

void StreamingEngine::setListenAddress(const QHostAddress& address) { listenAddress = address; }
void StreamingEngine::setMaxHandlers(int count) { handlerLimit = count; }
int StreamingEngine::maxHandlers() { return handlerLimit; }
void StreamingEngine::setClock(FrameComposer::Clock clock) { composerClock = std::move(clock); }

int StreamingEngine::configuredPort()
{
    return portOverride >= 0 ? portOverride : Settings::instance().get(setting::Port);
}

void StreamingEngine::setPortOverride(int port) { portOverride = port; }

void StreamingEngine::start()
{
    Globals& g = globals();
    if (g.GoingOffline) {
        unload();
        return;
    }
    const Settings& settings = Settings::instance();
    const StreamingAccount account = settings.account();
    g.AccountName = account.name();
    g.AccountPassword = account.password;

    if (g.AccountName == QLatin1String(".")) {
        // Nothing starts; whoever started us undoes going online.
        emit accountMissing();
        return;
    }

    g.JpegQuality = settings.get(setting::JpegQuality);
    g.ResizeFrames = settings.get(setting::ResizeFrames);
    g.FrameSizeCode = qint16(settings.get(setting::FrameSizeCode));
    g.ShowStreamErrors = settings.get(setting::ShowStreamErrors);
    minutesSinceLogon = 0;

    listener.close();
    const int port = configuredPort();
    // One address to listen on, for a camera published through a tunnel or a
    // proxy; empty means every interface.
    const QString bindText = settings.get(setting::ListenAddress).trimmed();
    QHostAddress bindAddress = listenAddress;
    const bool bindValid = bindText.isEmpty() || bindAddress.setAddress(bindText);
    if (!bindValid || port < 0 || port > 65535 || !listener.listen(bindAddress, quint16(port))) {
        const QString reason = !bindValid ? QStringLiteral("Invalid listen address %1").arg(bindText)
                               : port < 0 || port > 65535 ? QStringLiteral("Invalid port number %1").arg(port)
                               : listener.serverError() == QAbstractSocket::AddressInUseError
                                   ? QStringLiteral("Port %1 is in use by another program").arg(port)
                                   : listener.errorString();
        emit startFailed(reason);
        unload();
        return;
    }
    // Listening on one address, we also talk to the directory from it, so
    // the address it records for us is where we can be reached.
    const bool anyAddress = bindAddress == QHostAddress::Any || bindAddress == QHostAddress::AnyIPv4 ||
                            bindAddress == QHostAddress::AnyIPv6;
    m_sourceAddress = anyAddress ? QHostAddress() : bindAddress;

    emit statusChanged(QStringLiteral("Logging on..."));
    logonDelay.start();
    relogonTimer.stop();

    // Until the directory tells the public address, the one viewers on this
    // network can open.
    const QHostAddress bound = listener.serverAddress();
    m_listensEverywhere =
        bound == QHostAddress::AnyIPv4 || bound == QHostAddress::AnyIPv6 || bound == QHostAddress::Any;
    m_publicAddressKnown = false;
    showAddress(m_listensEverywhere ? lanAddress() : ipText(bound), listenPort());

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
    Capture* cap = m_state->camera;
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

void StreamingEngine::onNewConnection()
{
    while (QTcpSocket* socket = listener.nextPendingConnection()) {
        if (globals().GoingOffline) {
            socket->abort();
            socket->deleteLater();
            listener.close();
            unload();
            return;
        }
        ClientConnection* handler = m_state->admit(socket, handlerLimit);
        connect(handler, &ClientConnection::flashingWanted, this, &OnlineSession::flashingWanted);
        connect(handler, &ClientConnection::errorOccurred, this, &OnlineSession::errorOccurred);
        connect(handler, &ClientConnection::noticeWanted, this, &OnlineSession::noticeWanted);
        emit handlerCreated(handler);
    }
}

void StreamingEngine::connectToDirectory(QTcpSocket& socket)
{
    const QString host = globals().ServerHost;
    socket.abort();
    bindSource(socket, product::hostOf(host));
    socket.connectToHost(product::hostOf(host), product::portOf(host));
}

void StreamingEngine::bindSource(QTcpSocket& socket, const QString& destination) const
{
    if (m_sourceAddress.isNull())
        return;
    // An address of the other family cannot be reached from ours: the
    // system picks the source then.
    const QHostAddress literal(destination);
    if (!literal.isNull() && literal.protocol() != m_sourceAddress.protocol())
        return;
    socket.bind(m_sourceAddress);
}

int StreamingEngine::retryDelayMs(int failures)
{
    const int maxMs = 5 * 60000;
    int delay = 15000;
    for (int i = 1; i < failures && delay < maxMs; ++i)
        delay *= 2;
    return std::min(delay, maxMs);
}

void StreamingEngine::startLogon()
{
    m_answer.reset();
    logonRetry.stop();
    // Dropping an earlier exchange is no failure.
    logonTimeout.stop();
    logonSocket.abort();
    logonTimeout.start();
    connectToDirectory(logonSocket);
}

void StreamingEngine::onLogonTimeout()
{
    logonTimeout.stop();
    logonFailed(QStringLiteral("No answer within %1 seconds").arg(LogonTimeoutMs / 1000));
}

void StreamingEngine::logonFailed(const QString& reason)
{
    logonTimeout.stop();
    logonSocket.abort();
    if (m_unloaded || globals().GoingOffline)
        return;
    ++failedLogons;
    // Said once per run of failures; the status tells about the retries.
    if (failedLogons == 1)
        emit errorOccurred(logon::connectFailedMessage(reason));
    const int delay = retryDelayMs(failedLogons);
    logonRetry.start(delay);
    emit statusChanged(QStringLiteral("Server not reached, retrying in %1 s").arg(delay / 1000));
}

void StreamingEngine::onLogonRetry()
{
    logonRetry.stop();
    emit statusChanged(QStringLiteral("Logging on..."));
    startLogon();
}

void StreamingEngine::showAddress(const QString& host, quint16 port)
{
    const QString url = logon::cameraUrl(host, port);
    if (url == m_cameraAddress)
        return;
    m_cameraAddress = url;
    emit addressKnown(url);
}

void StreamingEngine::onLogonDelay()
{
    logonDelay.stop();
    startLogon();
}

void StreamingEngine::onRelogonTick()
{
    ++minutesSinceLogon;
    if (minutesSinceLogon == 5) {
        startLogon();
        minutesSinceLogon = 0;
    }
}

void StreamingEngine::onLogonConnected()
{
    const Globals& g = globals();
    // The address and port of our listener as the local system sees them: the
    // interface that reaches the directory service, and the port we listen on.
    const QString localIp = ipText(logonSocket.localAddress());
    const QByteArray bytes = logon::requestBytes(
        logon::logonPath(g.AccountName, g.AccountPassword, localIp, listenPort()), g.AppName, g.ServerHost);
    logonSocket.write(bytes);
    // The interface that reaches the directory is a better guess than the first one.
    if (!m_publicAddressKnown && m_listensEverywhere)
        showAddress(localIp, listenPort());
    emit logonSent(bytes);
}

void StreamingEngine::onLogonReadyRead()
{
    Globals& g = globals();
    g.LoggedIn = true;
    const logon::LogonAnswer::Result r = m_answer.feed(logonSocket.readAll(), g.DisableCheck);
    using V = logon::LogonAnswer::Verdict;
    if (r.verdict != V::Waiting) {
        logonTimeout.stop();
        logonRetry.stop();
        failedLogons = 0;
    }
    if (!r.address.isEmpty() && r.port != 0) {
        m_publicAddressKnown = true;
        showAddress(r.address, r.port);
    }
    switch (r.verdict) {
    case V::Waiting:
        break;
    case V::DbDown:
        emit errorOccurred(logon::dbDownMessage());
        logonSocket.abort();
        g.LoggedIn = false;
        endRefused(Refusal::DirectoryDown);
        break;
    case V::User:
        refuse(Refusal::UnknownUser, r.body);
        break;
    case V::Pass:
        refuse(Refusal::WrongPassword, r.body);
        break;
    case V::NoCheck:
        emit statusChanged(QStringLiteral("OK, NO CHECK"));
        keepRelogonRunning();
        break;
    case V::Address:
        logonSocket.abort();
        // Accepted: the member stays listed whatever the check finds.
        keepRelogonRunning();
        g.PublicAddress = r.address;
        reachabilitySocket.abort();
        bindSource(reachabilitySocket, r.address);
        reachabilitySocket.connectToHost(r.address, r.port);
        break;
    case V::Nothing:
        break;
    }
    emit logonAnswered(r.verdict);
}

void StreamingEngine::refuse(OnlineSession::Refusal reason, const QString& label)
{
    relogonTimer.stop();
    emit statusChanged(label);
    emit errorOccurred(logon::refusedMessage(reason == Refusal::UnknownUser));
    logonSocket.abort();
    globals().LoggedIn = false;
    endRefused(reason);
}

void StreamingEngine::endRefused(OnlineSession::Refusal reason)
{
    // Whoever started us undoes going online and so logs us off; without
    // anyone doing so we end ourselves. Either way the log-off runs once.
    emit refused(reason);
    if (!m_unloaded)
        logOff();
}

void StreamingEngine::onLogonError()
{
    // A close is handled where the socket disconnects; after a whole answer
    // nothing is pending that could fail.
    if (logonSocket.error() == QAbstractSocket::RemoteHostClosedError || !logonTimeout.isActive()) {
        logonSocket.abort();
        return;
    }
    logonFailed(logonSocket.errorString());
}

void StreamingEngine::keepRelogonRunning()
{
    // Starting a running timer would push the next logon back.
    if (!relogonTimer.isActive())
        relogonTimer.start();
}

void StreamingEngine::onReachabilityConnected()
{
    reachabilityToken = int(QRandomGenerator::global()->bounded(999999)) + 1;
    reachabilitySocket.write(logon::checkLine(reachabilityToken));
}

void StreamingEngine::onReachabilityReadyRead()
{
    keepRelogonRunning();
    const qint64 number = logon::echoNumber(reachabilitySocket.readAll());
    QString verdict;
    if (number == reachabilityToken) {
        verdict = QStringLiteral("OK");
        emit statusChanged(verdict);
        if (ipText(reachabilitySocket.localAddress()) != ipText(reachabilitySocket.peerAddress()))
            globals().BehindRouter = true;
    } else {
        verdict = QStringLiteral("OK, INCORRECT ID");
        emit errorOccurred(logon::checkMismatchMessage(siteAddress()));
        emit statusChanged(verdict);
    }
    reachabilitySocket.abort();
    emit checkFinished(verdict);
}

void StreamingEngine::onReachabilityError()
{
    if (reachabilitySocket.error() == QAbstractSocket::RemoteHostClosedError)
        return;
    emit errorOccurred(logon::checkFailedMessage(reachabilitySocket.errorString(), siteAddress()));
    emit statusChanged(QStringLiteral("NO CON"));
    reachabilitySocket.abort();
    emit checkFinished(QStringLiteral("NO CON"));
}

void StreamingEngine::logOff()
{
    emit logOffRequested();
    if (m_unloaded)
        return;
    Globals& g = globals();
    if (!g.LoggedIn) {
        unload();
        return;
    }
    logonDelay.stop();
    relogonTimer.stop();
    logonTimeout.stop();
    logonRetry.stop();
    emit flashingWanted(false);
    g.GoingOffline = true;
    logonSocket.abort();
    reachabilitySocket.abort();
    connectToDirectory(logoffSocket);
    logoffTimeout.start();
    g.LoggedIn = false;
}

void StreamingEngine::onLogoffConnected()
{
    const Globals& g = globals();
    const QByteArray bytes =
        logon::requestBytes(logon::logoffPath(g.AccountName, g.AccountPassword), g.AppName, g.ServerHost);
    logoffSocket.write(bytes);
    emit logoffSent(bytes);
}

void StreamingEngine::onLogoffReadyRead()
{
    logoffSocket.readAll();
    emit loggedOff();
    unload();
}

// The directory drops a member that stops logging on anyway; waiting for
// ever would keep the port and block going online again.
void StreamingEngine::onLogoffError()
{
    if (logoffSocket.bytesAvailable() > 0) {
        onLogoffReadyRead();
        return;
    }
    unload();
}

void StreamingEngine::onLogoffTimeout() { unload(); }

void StreamingEngine::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    logonDelay.stop();
    relogonTimer.stop();
    logonTimeout.stop();
    logonRetry.stop();
    logoffTimeout.stop();
    listener.close();
    m_state->endConnections();
    logonSocket.abort();
    reachabilitySocket.abort();
    logoffSocket.abort();
    emit unloaded();
    deleteLater();
}
