#include "shell/MainWindow.h"

#include "capture/SiblingProgram.h"

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/InfoWindows.h"
#include "shell/OnlineController.h"
#include "shell/Product.h"
#include "shell/Recorder.h"
#include "shell/Settings.h"
#include "shell/SplashScreen.h"
#include "shell/SystemUtils.h"
#include "shell/TrayIcon.h"
#include "shell/UpdateCheck.h"
#include "shell/Version.h"
#include "shell/WindowPlacement.h"
#include "shell/WindowRegistry.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>
#include <QVBoxLayout>
#include <memory>
#include <utility>

namespace {

// How long shutting down waits for the directory to answer the log-off.
constexpr int kLogoffGraceMs = 3000;

QPointer<MainWindow> theMain;

QStringList& shutdownLog()
{
    static QStringList log;
    return log;
}

QString instanceLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return withTrailingSlash(dir) + QLatin1String("vantora.lock");
}

// A 32x32 button picture in the dark grey of both buttons.
template <typename Paint> QIcon drawIcon(Paint paint)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x33, 0x33, 0x33));
    paint(p);
    p.end();
    return QIcon(pm);
}

QIcon recordIcon()
{
    return drawIcon([](QPainter& p) {
        p.drawRoundedRect(QRectF(3, 9, 19, 15), 3, 3);
        p.drawPolygon(QPolygonF({QPointF(22, 14), QPointF(29, 10), QPointF(29, 23), QPointF(22, 19)}));
        p.setBrush(QColor(0xe0, 0x20, 0x20));
        p.drawEllipse(QPointF(12.5, 16.5), 4, 4);
    });
}

QIcon snapshotIcon()
{
    return drawIcon([](QPainter& p) {
        p.drawRoundedRect(QRectF(3, 9, 26, 18), 3, 3);
        p.drawRect(QRectF(10, 6, 9, 4));
        p.setBrush(QColor(0xf0, 0xf0, 0xf0));
        p.drawEllipse(QPointF(16, 18), 6, 6);
        p.setBrush(QColor(0x3a, 0x7b, 0xd5));
        p.drawEllipse(QPointF(16, 18), 3.5, 3.5);
    });
}

void setLabelColour(QLabel* label, const QColor& colour)
{
    QPalette pal = label->palette();
    if (pal.color(QPalette::WindowText) == colour)
        return;
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
}

} // namespace

class MainWindow::Running
{
public:
    explicit Running(MainWindow* w) : m_w(w) { ++m_w->m_running; }
    ~Running()
    {
        if (--m_w->m_running == 0 && std::exchange(m_w->m_deleteWhenIdle, false))
            m_w->deleteLater();
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;

private:
    MainWindow* m_w;
};

MainWindow* mainWindow() { return theMain; }

MainWindow* buildMainWindow()
{
    if (!theMain)
        theMain = new MainWindow;
    return theMain;
}

MainWindow* loadMainWindow()
{
    if (theMain)
        return theMain;
    buildMainWindow()->runStartup();
    return theMain;
}

MainWindow* startMainWindow()
{
    if (theMain)
        return theMain;
    MainWindow* w = buildMainWindow();
    w->m_sequence = std::make_unique<StartupSequence>();
    w->m_startingUp = true;
    QTimer::singleShot(0, w, &MainWindow::runNextStep);
    return w;
}

void unloadMainWindow()
{
    if (theMain && !theMain->m_unloading)
        theMain->shutDown();
}

const QStringList& MainWindow::shutdownRecord() { return shutdownLog(); }

MainWindow::MainWindow() : QMainWindow(nullptr)
{
    setObjectName(QStringLiteral("MainWindow"));
    m_recorderFolders = siblingProgramFolders();
    buildUi();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildUi()
{
    setWindowTitle(globals().AppName + u' ' + version::compact());
    setWindowIcon(programIcon());

    // Menus.
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    exitAction = file->addAction(QStringLiteral("E&xit"));
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    activeConnectionsAction = view->addAction(QStringLiteral("Active Connections"));
    activeConnectionsAction->setCheckable(true);
    pluginsAction = view->addAction(QStringLiteral("Plugins"));
    configureAction = view->addAction(QStringLiteral("Configure"));
    buddyListAction = view->addAction(QStringLiteral("My Buddy List"));
    previewAction = view->addAction(QStringLiteral("Preview"));
    previewAction->setCheckable(true);
    previewAction->setChecked(true);
    fullScreenAction = view->addAction(QStringLiteral("Preview in fullscreen"));
    QMenu* actions = menuBar()->addMenu(QStringLiteral("&Actions"));
    inviteAction = actions->addAction(QStringLiteral("&Invite someone for chat"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    helpActions[0] = help->addAction(QStringLiteral("&Help"));
    helpActions[1] = help->addAction(QStringLiteral("&Support"));
    helpActions[2] = help->addSeparator();
    helpActions[3] = help->addAction(QStringLiteral("&About..."));
    helpActions[4] = help->addAction(QStringLiteral("System Info"));

    connect(exitAction, &QAction::triggered, this, [] { unloadMainWindow(); });
    connect(activeConnectionsAction, &QAction::triggered, this, &MainWindow::onActiveConnections);
    connect(configureAction, &QAction::triggered, this, [this] { windows::openConfiguration(this); });
    connect(previewAction, &QAction::triggered, this, &MainWindow::onPreviewToggled);
    connect(fullScreenAction, &QAction::triggered, this, &MainWindow::onFullScreen);
    connect(inviteAction, &QAction::triggered, this, &MainWindow::onInvite);
    for (int i : {0, 1, 3, 4})
        connect(helpActions[i], &QAction::triggered, this, [this, i] { onHelpItem(i); });

    auto* central = new QWidget(this);
    central->setMouseTracking(true);
    central->installEventFilter(this);
    setCentralWidget(central);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSpacing(10);

    // Preview area.
    previewArea = new QFrame(central);
    previewArea->setObjectName(QStringLiteral("previewArea"));
    previewArea->setFrameShape(QFrame::StyledPanel);
    previewArea->setMinimumSize(352, 288);
    previewArea->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    previewArea->setAutoFillBackground(true);
    QPalette black = previewArea->palette();
    black.setColor(QPalette::Window, Qt::black);
    previewArea->setPalette(black);
    previewArea->installEventFilter(this);
    outer->addWidget(previewArea, 1);

    camera = new Capture(this);
    if (QWidget* preview = camera->previewWidget()) {
        preview->setParent(previewArea);
        preview->show();
    }
    connect(camera, &Capture::errorOccurred, this, &MainWindow::onCaptureError);

    exitFullScreenButton = new QPushButton(QStringLiteral("Close fullscreen"), previewArea);
    exitFullScreenButton->setObjectName(QStringLiteral("exitFullScreenButton"));
    exitFullScreenButton->adjustSize();
    exitFullScreenButton->hide();
    connect(exitFullScreenButton, &QPushButton::clicked, this, &MainWindow::onExitFullScreen);

    // Status and controls beside the preview.
    m_sidePanel = new QWidget(central);
    m_sidePanel->setFixedWidth(290);
    auto* side = new QVBoxLayout(m_sidePanel);
    side->setContentsMargins(0, 0, 0, 0);

    auto* statusBox = new QGroupBox(QStringLiteral("Status"), m_sidePanel);
    auto* form = new QFormLayout(statusBox);
    form->setLabelAlignment(Qt::AlignRight);
    engineCaptionLabel = new QLabel(QStringLiteral("Velora Engine:"), statusBox);
    engineCaptionLabel->setObjectName(QStringLiteral("engineCaptionLabel"));
    engineStateLabel = new QLabel(statusBox);
    engineStateLabel->setObjectName(QStringLiteral("engineStateLabel"));
    QFont bold = engineStateLabel->font();
    bold.setBold(true);
    engineStateLabel->setFont(bold);
    form->addRow(engineCaptionLabel, engineStateLabel);
    userLabel = new QLabel(statusBox);
    userLabel->setObjectName(QStringLiteral("userLabel"));
    form->addRow(QStringLiteral("User:"), userLabel);
    domainLabel = new QLabel(statusBox);
    domainLabel->setObjectName(QStringLiteral("domainLabel"));
    form->addRow(QStringLiteral("Domain:"), domainLabel);
    inputLabel = new QLabel(statusBox);
    inputLabel->setObjectName(QStringLiteral("inputLabel"));
    inputLabel->setWordWrap(true);
    inputLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    form->addRow(QStringLiteral("Input:"), inputLabel);
    lastResponseCaption = new QLabel(QStringLiteral("Last Response:"), statusBox);
    lastResponseCaption->setObjectName(QStringLiteral("lastResponseCaption"));
    lastResponseLabel = new QLabel(QStringLiteral("Log in..."), statusBox);
    lastResponseLabel->setObjectName(QStringLiteral("lastResponseLabel"));
    lastResponseLabel->setWordWrap(true);
    lastResponseLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    form->addRow(lastResponseCaption, lastResponseLabel);
    addressLabel = new QLabel(QStringLiteral("http://127.0.0.1/"), statusBox);
    addressLabel->setObjectName(QStringLiteral("addressLabel"));
    QFont underlined = addressLabel->font();
    underlined.setUnderline(true);
    addressLabel->setFont(underlined);
    addressLabel->setCursor(Qt::PointingHandCursor);
    addressLabel->setMouseTracking(true);
    setLabelColour(addressLabel, QColor(0, 0, 255));
    form->addRow(addressLabel);
    minutesLabel = new QLabel(QStringLiteral("0 min. runned"), statusBox);
    minutesLabel->setObjectName(QStringLiteral("minutesLabel"));
    form->addRow(minutesLabel);
    // Shown by the engine once it has an address.
    addressLabel->hide();
    lastResponseCaption->hide();
    lastResponseLabel->hide();
    for (QLabel* l : {engineCaptionLabel, engineStateLabel, lastResponseLabel}) {
        l->setMouseTracking(true);
        l->installEventFilter(this);
    }
    addressLabel->installEventFilter(this);
    side->addWidget(statusBox);

    auto* switchRow = new QHBoxLayout;
    onlineSwitch = new QCheckBox(QStringLiteral("ONLINE"), m_sidePanel);
    onlineSwitch->setObjectName(QStringLiteral("onlineSwitch"));
    onlineSwitch->setFont(bold);
    changeAccountButton = new QPushButton(QStringLiteral("Change >"), m_sidePanel);
    changeAccountButton->setObjectName(QStringLiteral("changeAccountButton"));
    switchRow->addWidget(onlineSwitch);
    switchRow->addStretch(1);
    switchRow->addWidget(changeAccountButton);
    side->addLayout(switchRow);
    connect(onlineSwitch, &QCheckBox::toggled, this, &MainWindow::onOnlineSwitchToggled);
    connect(changeAccountButton, &QPushButton::clicked, this, &MainWindow::onChangeAccount);

    accountBox = new QGroupBox(QStringLiteral("Change"), m_sidePanel);
    accountBox->setObjectName(QStringLiteral("accountBox"));
    auto* login = new QFormLayout(accountBox);
    domainBox = new QComboBox(accountBox);
    domainBox->setObjectName(QStringLiteral("domainBox"));
    domainBox->setEditable(true);
    userNameEdit = new QLineEdit(accountBox);
    userNameEdit->setObjectName(QStringLiteral("userNameEdit"));
    passwordEdit = new QLineEdit(accountBox);
    passwordEdit->setObjectName(QStringLiteral("passwordEdit"));
    passwordEdit->setEchoMode(QLineEdit::Password);
    applyAccountButton = new QPushButton(QStringLiteral("OK"), accountBox);
    applyAccountButton->setObjectName(QStringLiteral("applyAccountButton"));
    login->addRow(QStringLiteral("Domain:"), domainBox);
    login->addRow(QStringLiteral("Username:"), userNameEdit);
    login->addRow(QStringLiteral("Password:"), passwordEdit);
    login->addRow(QString(), applyAccountButton);
    accountBox->hide();
    side->addWidget(accountBox);
    connect(applyAccountButton, &QPushButton::clicked, this, &MainWindow::onApplyAccount);

    side->addStretch(1);
    auto* tools = new QHBoxLayout;
    recordButton = new QPushButton(recordIcon(), QStringLiteral("Record movie"), m_sidePanel);
    recordButton->setObjectName(QStringLiteral("recordButton"));
    recordButton->setIconSize(QSize(24, 24));
    recordButton->setToolTip(QStringLiteral("Closes Vantora and starts the movie recorder"));
    snapshotsButton = new QPushButton(snapshotIcon(), QStringLiteral("Snapshots"), m_sidePanel);
    snapshotsButton->setObjectName(QStringLiteral("snapshotsButton"));
    snapshotsButton->setIconSize(QSize(24, 24));
    snapshotsButton->setToolTip(QStringLiteral("Timed snapshots"));
    tools->addWidget(recordButton);
    tools->addWidget(snapshotsButton);
    side->addLayout(tools);
    connect(recordButton, &QPushButton::clicked, this, &MainWindow::onRecord);
    connect(snapshotsButton, &QPushButton::clicked, this, &MainWindow::onSnapshots);
    outer->addWidget(m_sidePanel);

    minuteTimer = new QTimer(this);
    minuteTimer->setInterval(60000);
    connect(minuteTimer, &QTimer::timeout, this, &MainWindow::onMinuteTick);
    minuteTimer->start();
    updateCheckDelay = new QTimer(this);
    updateCheckDelay->setInterval(1500);
    updateCheckDelay->setSingleShot(true);
    connect(updateCheckDelay, &QTimer::timeout, this, &MainWindow::onUpdateCheckDue);

    updateSocket = new QTcpSocket(this);
    connect(updateSocket, &QTcpSocket::connected, this, &MainWindow::onUpdateSocketConnected);
    connect(updateSocket, &QTcpSocket::readyRead, this, &MainWindow::onUpdateSocketReadyRead);
    connect(updateSocket, &QTcpSocket::disconnected, updateSocket, [this] { updateSocket->abort(); });
    connect(updateSocket, &QTcpSocket::errorOccurred, updateSocket, [this] { updateSocket->abort(); });

    connectOnlineController();
    resize(780, 540);
}

void MainWindow::connectOnlineController()
{
    m_online = new OnlineController(camera, this);
    OnlineController* online = m_online;
    connect(online, &OnlineController::engineStateChanged, engineStateLabel, &QLabel::setText);
    connect(online, &OnlineController::statusChanged, lastResponseLabel, &QLabel::setText);
    const auto showStatusLabels = [this](bool visible) {
        for (QLabel* label : {addressLabel, lastResponseCaption, lastResponseLabel})
            label->setVisible(visible);
    };
    connect(online, &OnlineController::addressKnown, this, [this, showStatusLabels](const QString& url) {
        addressLabel->setText(url);
        showStatusLabels(true);
    });
    connect(online, &OnlineController::loggedOff, this, [showStatusLabels] { showStatusLabels(false); });
    connect(online, &OnlineController::switchOffWanted, this, [this] { onlineSwitch->setChecked(false); });
    connect(online, &OnlineController::accountMissing, this, &MainWindow::onAccountMissing);
    connect(online, &OnlineController::startFailed, this, &MainWindow::onStartFailed);
    connect(online, &OnlineController::noticeWanted, this, &MainWindow::showNotice);
    connect(online, &OnlineController::errorOccurred, this,
            [](const QString& message) { ShowErrorWindow(message); });
    connect(online, &OnlineController::flashingWanted, this, [](bool on) {
        if (TrayIcon* tray = trayIcon())
            tray->setFlashing(on);
    });
}

void MainWindow::showNotice(const QString& text)
{
    const Running running(this);
    MessageBox::plain(this, globals().AppName, text);
}

void MainWindow::onStartFailed(const QString& reason)
{
    // Nothing listens: the switch and the engine label say so. The stored
    // choice stays, so the next start tries again.
    m_startFailedAtStart = m_startFailedAtStart || m_startingUp;
    {
        const QSignalBlocker quiet(onlineSwitch);
        onlineSwitch->setChecked(false);
    }
    globals().OnlineSwitch = false;
    engineStateLabel->setText(QStringLiteral("OFF"));
    whenStarted([this, reason] { showNotice(reason); });
}

void MainWindow::onAccountMissing()
{
    // Asked once per start: the start-up's own switch step leaves the switch off.
    m_accountAskedAtStart = m_accountAskedAtStart || m_startingUp;
    // The boxes are cleared before the switch goes off, which stores them.
    userNameEdit->clear();
    passwordEdit->clear();
    onlineSwitch->setChecked(false);
    whenStarted([this] { askForAccount(); });
}

void MainWindow::askForAccount()
{
    const Running running(this);
    const QString& app = globals().AppName;
    const auto answer =
        MessageBox::question(this, app,
                             QStringLiteral("You need to create an account at ") + app +
                                 QStringLiteral(" to use streaming. Would you create an account?"));
    if (m_unloading)
        return;
    if (answer == QMessageBox::Yes)
        windows::openSignup(this);
    else
        MessageBox::information(this, app,
                                QStringLiteral("You can create an account later in the configuration "
                                               "window --> Streaming Options"));
}

// ------------------------------------------------------------------ start-up

void MainWindow::runStartup()
{
    const Running running(this);
    m_sequence = std::make_unique<StartupSequence>();
    m_startingUp = true;
    StartupSequence::Progress progress = StartupSequence::Progress::More;
    while (progress == StartupSequence::Progress::More && !m_unloading) {
        progress = m_sequence->next(*this);
        m_startupRecord = m_sequence->record();
    }
    finishStartup(progress == StartupSequence::Progress::Done);
}

void MainWindow::runNextStep()
{
    const Running running(this);
    if (!m_sequence || m_unloading)
        return;
    const StartupSequence::Progress progress = m_sequence->next(*this);
    m_startupRecord = m_sequence->record();
    if (progress == StartupSequence::Progress::More && !m_unloading) {
        // The event loop runs between steps: the splash stays painted and a
        // signal or the tray can shut down before the next one.
        QTimer::singleShot(0, this, &MainWindow::runNextStep);
        return;
    }
    finishStartup(progress == StartupSequence::Progress::Done);
}

void MainWindow::finishStartup(bool started)
{
    m_startingUp = false;
    m_sequence.reset();
    const QList<std::function<void()>> pending = std::exchange(m_afterStartup, {});
    if (started && !m_unloading) {
        for (const auto& show : pending) {
            show();
            if (m_unloading)
                break; // shut down from inside a box
        }
    }
    emit startupFinished(started && !m_unloading);
}

void MainWindow::whenStarted(std::function<void()> show)
{
    if (m_startingUp)
        m_afterStartup.append(std::move(show));
    else
        show();
}

void MainWindow::status(const QString& text)
{
    if (SplashScreen* s = splashScreen())
        s->showStatus(text);
}

void MainWindow::bar(int percent)
{
    if (SplashScreen* s = splashScreen())
        s->showProgress(percent);
}

bool MainWindow::anotherCopyRunning()
{
    m_instanceLock = std::make_unique<QLockFile>(instanceLockPath());
    // The lock lives as long as this copy; only a dead owner makes it stale.
    m_instanceLock->setStaleLockTime(0);
    if (m_instanceLock->tryLock(0))
        return false;
    m_instanceLock.reset();
    return true;
}

bool MainWindow::askStartAnotherCopy(const QString& title, const QString& text)
{
    return MessageBox::information(this, title, text, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::abandon() { unloadMainWindow(); }

void MainWindow::setTitle(const QString& title) { setWindowTitle(title); }

void MainWindow::changeToProgramFolder() { QDir::setCurrent(QCoreApplication::applicationDirPath()); }

void MainWindow::loadTray()
{
    TrayIcon* tray = loadTrayIcon();
    connect(tray, &TrayIcon::showWindowRequested, this, &MainWindow::showWindowFromTray,
            Qt::UniqueConnection);
    connect(tray, &TrayIcon::aboutRequested, this, &MainWindow::showAbout, Qt::UniqueConnection);
    connect(tray, &TrayIcon::shutDownRequested, this, &MainWindow::onShutDownRequested, Qt::UniqueConnection);
}

void MainWindow::onShutDownRequested() { unloadMainWindow(); }

void MainWindow::showAbout()
{
    AboutDialog* about = aboutWindow(this);
    about->show();
    about->raise();
}

void MainWindow::selectDriver(int index)
{
    m_driverSelected = camera->setDriverIndex(index);
    inputLabel->setText(camera->driverDescription(index));
}

void MainWindow::enableUpdateTimer() { updateCheckDelay->start(); }

bool MainWindow::connectVideo()
{
    // A driver number that names no device must not fall back to another camera.
    if (m_driverSelected)
        camera->grabFrame();
    camera->setPreview(true);
    return camera->connected();
}

void MainWindow::showDriverFailure()
{
    whenStarted([this] {
        CameraUnavailableDialog* f = driverFailureWindow(this);
        setEnabled(false);
        showOwned(f, this);
    });
}

void MainWindow::setEngineState(const QString& text) { engineStateLabel->setText(text); }

void MainWindow::loadEngine() { m_online->startSession(); }

void MainWindow::showActiveConnections()
{
    windows::showActiveConnections(this);
    activeConnectionsAction->setChecked(true);
}

void MainWindow::showMainUnloadSplash()
{
    show();
    unloadSplash();
    // Debugging aid: VANTORA_GRAB=<file.png> saves a picture of the window once it has settled.
    const QString grabPath = qEnvironmentVariable("VANTORA_GRAB");
    if (!grabPath.isEmpty())
        QTimer::singleShot(2500, this, [this, grabPath] { grab().save(grabPath); });
}

void MainWindow::fillLogin(const QStringList& domains, const QString& user, const QString& password,
                           const QString& domain)
{
    domainBox->clear();
    domainBox->addItems(domains);
    domainBox->setCurrentIndex(0);
    userNameEdit->setText(user);
    userLabel->setText(user);
    passwordEdit->setText(password);
    domainBox->setEditText(domain);
    domainLabel->setText(domain);
}

void MainWindow::setOnlineSwitch(int value)
{
    // Without an account the start-up has asked already; switching on would
    // ask again. A port in use would be tried, and reported, a second time.
    onlineSwitch->setChecked(value == 1 && !m_accountAskedAtStart && !m_startFailedAtStart);
}

// ------------------------------------------------------------------ handlers

void MainWindow::onOnlineSwitchToggled()
{
    const Running running(this);
    const bool on = onlineSwitch->isChecked();
    Settings& settings = Settings::instance();
    settings.set(setting::UserName, userNameEdit->text());
    settings.set(setting::Password, passwordEdit->text());
    settings.set(setting::StreamingEnabled, on ? 1 : 0);
    m_online->setOnline(on);
}

void MainWindow::onChangeAccount() { accountBox->show(); }

StreamingAccount MainWindow::enteredAccount() const
{
    return {userNameEdit->text(), domainBox->currentText(), passwordEdit->text()};
}

void MainWindow::onApplyAccount()
{
    const Running running(this);
    Settings::instance().setAccount(enteredAccount());
    userLabel->setText(userNameEdit->text());
    domainLabel->setText(domainBox->currentText());
    MessageBox::information(this, globals().AppName,
                            QStringLiteral("You have to go OFFLINE and then ONLINE to apply changes"));
    if (!m_unloading)
        accountBox->hide();
}

void MainWindow::onMinuteTick()
{
    if (minutesRunning < 32767)
        ++minutesRunning;
    minutesLabel->setText(QString::number(minutesRunning) + QLatin1String(" min. runned"));
    camera->setPreview(true);
}

void MainWindow::onCaptureError(int number, const QString& description)
{
    Q_UNUSED(number);
    if (!globals().ShowCamErrors || description.isEmpty())
        return;
    ShowErrorWindow(QLatin1String("Video Device Error: ") + description +
                    QLatin1String("\r\n\r\nGo to Camera Options to disable this error message (Configure -> "
                                  "Camera Options"));
}

void MainWindow::onActiveConnections()
{
    if (!windows::activeConnectionsVisible()) {
        windows::showActiveConnections(this);
    } else {
        windows::unloadActiveConnections();
    }
    activeConnectionsAction->setChecked(windows::activeConnectionsVisible());
}

void MainWindow::onPreviewToggled()
{
    if (previewArea->isVisible()) {
        previewAction->setChecked(false);
        fullScreenAction->setEnabled(false);
        previewArea->hide();
        camera->setPreview(false);
    } else {
        previewAction->setChecked(true);
        fullScreenAction->setEnabled(true);
        previewArea->show();
        camera->setPreview(true);
    }
}

void MainWindow::onInvite()
{
    if (!globals().LoggedIn) {
        ShowErrorWindow(QStringLiteral("You must login first!"));
        return;
    }
    windows::openInvitation(this);
}

void MainWindow::onHelpItem(int index)
{
    const Running running(this);
    switch (index) {
    case 0:
        desktop::openDocument(product::pageUrl(product::Page::Help));
        break;
    case 1:
        desktop::openDocument(product::pageUrl(product::Page::Support));
        break;
    case 3: {
        AboutDialog* about = aboutWindow(this);
        about->setModal(true);
        about->exec();
        break;
    }
    case 4:
        MessageBox::plain(this, globals().AppName + QLatin1String(" System Info Window"),
                          QLatin1String("OS Information:\n") +
                              (globals().OsName.isEmpty() ? osName() : globals().OsName) + u'\n' +
                              productNotice());
        break;
    default:
        break;
    }
}

void MainWindow::onSnapshots() { windows::openSnapshots(this); }

void MainWindow::onRecord()
{
    QString error;
    if (startRecorder(m_recorderFolders, &error))
        unloadMainWindow();
    else
        ShowErrorWindow(error);
}

// ------------------------------------------------------------------ full screen

void MainWindow::onFullScreen()
{
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    m_normalGeometry = geometry();
    previewAction->setEnabled(false);
    setAlwaysOnTop(this, true);
    const QRect screenRect = screen() ? screen()->geometry() : QRect(0, 0, 1024, 768);
    camera->setStretch(true);
    menuBar()->hide();
    m_sidePanel->hide();
    centralWidget()->layout()->setContentsMargins(0, 0, 0, 0);
    previewArea->setFrameShape(QFrame::NoFrame);
    showFullScreen();
    previewArea->setGeometry(QRect(QPoint(0, 0), screenRect.size()));
    camera->setDisplayRect(QRect(QPoint(0, 0), screenRect.size()));
    exitFullScreenButton->setEnabled(true);
    exitFullScreenButton->adjustSize();
    exitFullScreenButton->move(screenRect.width() / 2 - exitFullScreenButton->width() / 2, 0);
    exitFullScreenButton->show();
    exitFullScreenButton->raise();
}

void MainWindow::onExitFullScreen()
{
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    setAlwaysOnTop(this, false);
    previewAction->setEnabled(true);
    exitFullScreenButton->setEnabled(false);
    exitFullScreenButton->hide();
    camera->setStretch(false);
    menuBar()->show();
    m_sidePanel->show();
    centralWidget()->layout()->setContentsMargins(8, 8, 8, 8);
    previewArea->setFrameShape(QFrame::StyledPanel);
    showNormal();
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
    layoutPreview();
}

void MainWindow::layoutPreview()
{
    if (camera && previewArea)
        camera->setDisplayRect(m_fullScreen ? previewArea->rect() : previewArea->contentsRect());
}

// ------------------------------------------------------------------ update check

void MainWindow::onUpdateCheckDue()
{
    updateCheckDelay->stop();
    m_updateAnswered = false;
    const QString host = globals().ServerHost;
    updateSocket->abort();
    updateSocket->connectToHost(product::hostOf(host), product::portOf(host));
}

void MainWindow::onUpdateSocketConnected()
{
    updateSocket->write(updatecheck::request(globals().ServerHost));
}

void MainWindow::onUpdateSocketReadyRead()
{
    // The first piece is taken as the whole answer.
    if (m_updateAnswered)
        return;
    m_updateAnswered = true;
    const QByteArray response = updateSocket->readAll();
    updateSocket->abort();
    const auto offer = updatecheck::parse(response, version::compact());
    if (!offer)
        return;
    NewVersionWindow* w = newVersionWindow();
    w->releaseNotesEdit->setPlainText(offer->notes);
    w->versionLabel->setText(QLatin1String("New version: ") + offer->version);
}

// ------------------------------------------------------------------ window events

void MainWindow::showWindowFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    camera->setPreview(true);
    desktop::doEvents();
    show();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && !m_unloading &&
        static_cast<QWindowStateChangeEvent*>(event)->oldState().testFlag(Qt::WindowMinimized)) {
        // Restored from the task bar: the picture comes back at once, not at the
        // next minute tick (unless the user switched the preview off).
        if (previewAction->isChecked())
            camera->setPreview(true);
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_unloading) {
        // It lives on in the tray. Without a notification area it stays
        // minimised in the task bar: hidden, nothing could bring it back.
        camera->setPreview(false);
        QTimer::singleShot(0, this, [this] {
            TrayIcon* tray = trayIcon();
            if (isMinimized() && tray && tray->canRestoreWindows())
                hide();
        });
    }
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (m_unloading) {
        event->accept();
        return;
    }
    event->ignore();
    unloadMainWindow();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type t = event->type();
    if (watched == addressLabel) {
        if (t == QEvent::Enter || t == QEvent::MouseMove)
            setLabelColour(addressLabel, QColor(255, 0, 0));
        else if (t == QEvent::MouseButtonRelease)
            desktop::openDocument(QUrl(addressLabel->text()));
    } else if (watched == previewArea) {
        if (t == QEvent::Resize)
            layoutPreview();
    } else if (t == QEvent::Enter || t == QEvent::MouseMove) {
        setLabelColour(addressLabel, QColor(0, 0, 255));
    }
    return QMainWindow::eventFilter(watched, event);
}

// ------------------------------------------------------------------ shut-down

void MainWindow::shutDown()
{
    if (m_unloading)
        return;
    m_unloading = true;
    Globals& g = globals();
    QStringList& log = shutdownLog();
    log.clear();
    const auto step = [&log](const QString& name) { log.append(name); };

    // 1.
    Settings::instance().set(setting::ConnectionsWindowVisible, windows::activeConnectionsVisible());
    step(QStringLiteral("save WindowVisible"));

    // 2.
    camera->setPreview(false);
    step(QStringLiteral("preview off"));
    camera->disconnectDriver();
    step(QStringLiteral("disconnect driver"));

    // 3.
    minuteTimer->stop();
    updateCheckDelay->stop();
    updateSocket->abort();
    step(QStringLiteral("timers off"));

    // 4.
    m_online->shutDown();
    step(QStringLiteral("log off"));

    // 5.
    const auto unloadStep = [&](const QString& name, const std::function<void()>& unload) {
        unload();
        step(QLatin1String("unload ") + name);
        desktop::doEvents();
    };
    unloadStep(QStringLiteral("connections"), [] { windows::unloadWindow(QStringLiteral("connections")); });
    unloadStep(QStringLiteral("tray"), [] { unloadTrayIcon(); });
    unloadStep(QStringLiteral("configuration"),
               [] { windows::unloadWindow(QStringLiteral("configuration")); });
    unloadStep(QStringLiteral("cameraUnavailable"), [] { unloadDriverFailureWindow(); });
    unloadStep(QStringLiteral("about"), [] { unloadAboutWindow(); });
    unloadStep(QStringLiteral("snapshots"), [] { windows::unloadWindow(QStringLiteral("snapshots")); });
    unloadStep(QStringLiteral("jpegPreview"), [] { windows::unloadWindow(QStringLiteral("jpegPreview")); });
    unloadStep(QStringLiteral("newVersion"), [] { unloadNewVersionWindow(); });
    unloadStep(QStringLiteral("splash"), [] { unloadSplash(); });
    unloadStep(QStringLiteral("activeConnections"), [] { windows::unloadActiveConnections(); });

    // 6.
    g.GoingOffline = true;
    desktop::doEvents();
    desktop::doEvents();
    const QPointer<OnlineSession> session = m_online->session();
    theMain = nullptr;
    hide();
    m_instanceLock.reset();
    // This may be running inside one of its own handlers, even under a modal
    // box of one: freed once they have all returned.
    if (m_running > 0)
        m_deleteWhenIdle = true;
    else
        deleteLater();
    step(QStringLiteral("unload mainWindow"));
    desktop::doEvents();
    step(QStringLiteral("end"));
    // The log-off travels on its own connection: end once the engine has
    // unloaded on the server's answer (or at once when it was not logged in),
    // or after a grace period without an answer. Ending at once would leave the
    // member listed as online with a camera that is gone.
    OnlineController::whenEnded(
        session, [] { desktop::endProgram(); }, kLogoffGraceMs);
}
