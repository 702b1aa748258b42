#include "shell/MainWindow.h"

#include "capture/Capture.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/InfoWindows.h"
#include "shell/Product.h"
#include "capture/Prompt.h"
#include "shell/Recorder.h"
#include "shell/Seams.h"
#include "shell/Settings.h"
#include "shell/SystemUtils.h"
#include "shell/UpdateCheck.h"
#include "shell/Version.h"
#include "shell/SplashScreen.h"
#include "shell/TrayIcon.h"

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
template <typename Paint>
QIcon drawIcon(Paint paint)
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
    MainWindow* w = buildMainWindow();
    if (!w->runStartup())
        return nullptr;
    return theMain;
}

void unloadMainWindow()
{
    if (theMain && !theMain->m_unloading)
        theMain->shutDown();
}

const QStringList& MainWindow::shutdownRecord() { return shutdownLog(); }

MainWindow::MainWindow() : QMainWindow(nullptr)
{
    setObjectName(QStringLiteral("frmCustomCaption"));
    m_recorderFolder = QCoreApplication::applicationDirPath();
    buildUi();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildUi()
{
    setWindowTitle(globals().AppName + u' ' + version::compact());
    setWindowIcon(programIcon());

    // Menus.
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuExit = file->addAction(QStringLiteral("E&xit"));
    QMenu* view = menuBar()->addMenu(QStringLiteral("&View"));
    mnuActiveConnections = view->addAction(QStringLiteral("Active Connections"));
    mnuActiveConnections->setCheckable(true);
    mnuPlugins = view->addAction(QStringLiteral("Plugins"));
    mnuConfigure = view->addAction(QStringLiteral("Configure"));
    mnuBuddyList = view->addAction(QStringLiteral("My Buddy List"));
    mnuPreview = view->addAction(QStringLiteral("Preview"));
    mnuPreview->setCheckable(true);
    mnuPreview->setChecked(true);
    mnuFullscreen = view->addAction(QStringLiteral("Preview in fullscreen"));
    QMenu* actions = menuBar()->addMenu(QStringLiteral("&Actions"));
    mnuInvite = actions->addAction(QStringLiteral("&Invite someone for chat"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    mnuHelpItem[0] = help->addAction(QStringLiteral("&Help"));
    mnuHelpItem[1] = help->addAction(QStringLiteral("&Support"));
    mnuHelpItem[2] = help->addSeparator();
    mnuHelpItem[3] = help->addAction(QStringLiteral("&About..."));
    mnuHelpItem[4] = help->addAction(QStringLiteral("System Info"));

    connect(mnuExit, &QAction::triggered, this, [] { unloadMainWindow(); });
    connect(mnuActiveConnections, &QAction::triggered, this, &MainWindow::mnuActiveConnections_Click);
    connect(mnuConfigure, &QAction::triggered, this, [this] { seams::openConfiguration(this); });
    connect(mnuPreview, &QAction::triggered, this, &MainWindow::mnuPreview_Click);
    connect(mnuFullscreen, &QAction::triggered, this, &MainWindow::mnuFullscreen_Click);
    connect(mnuInvite, &QAction::triggered, this, &MainWindow::mnuInvite_Click);
    for (int i : {0, 1, 3, 4})
        connect(mnuHelpItem[i], &QAction::triggered, this, [this, i] { mnuHelp_Click(i); });

    auto* central = new QWidget(this);
    central->setMouseTracking(true);
    central->installEventFilter(this);
    setCentralWidget(central);
    auto* outer = new QHBoxLayout(central);
    outer->setContentsMargins(8, 8, 8, 8);
    outer->setSpacing(10);

    // Preview area.
    Picture1 = new QFrame(central);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setFrameShape(QFrame::StyledPanel);
    Picture1->setMinimumSize(352, 288);
    Picture1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    Picture1->setAutoFillBackground(true);
    QPalette black = Picture1->palette();
    black.setColor(QPalette::Window, Qt::black);
    Picture1->setPalette(black);
    Picture1->installEventFilter(this);
    outer->addWidget(Picture1, 1);

    Cap = new Capture(this);
    if (QWidget* preview = Cap->previewWidget()) {
        preview->setParent(Picture1);
        preview->show();
    }
    connect(Cap, &Capture::errorOccurred, this, &MainWindow::Cap_Error);

    Command5 = new QPushButton(QStringLiteral("Close fullscreen"), Picture1);
    Command5->setObjectName(QStringLiteral("Command5"));
    Command5->adjustSize();
    Command5->hide();
    connect(Command5, &QPushButton::clicked, this, &MainWindow::Command5_Click);

    // Status and controls beside the preview.
    m_sidePanel = new QWidget(central);
    m_sidePanel->setFixedWidth(290);
    auto* side = new QVBoxLayout(m_sidePanel);
    side->setContentsMargins(0, 0, 0, 0);

    auto* statusBox = new QGroupBox(QStringLiteral("Status"), m_sidePanel);
    auto* form = new QFormLayout(statusBox);
    form->setLabelAlignment(Qt::AlignRight);
    Label8 = new QLabel(QStringLiteral("Velora Engine:"), statusBox);
    Label8->setObjectName(QStringLiteral("Label8"));
    Label9 = new QLabel(statusBox);
    Label9->setObjectName(QStringLiteral("Label9"));
    QFont bold = Label9->font();
    bold.setBold(true);
    Label9->setFont(bold);
    form->addRow(Label8, Label9);
    Label2 = new QLabel(statusBox);
    Label2->setObjectName(QStringLiteral("Label2"));
    form->addRow(QStringLiteral("User:"), Label2);
    Label5 = new QLabel(statusBox);
    Label5->setObjectName(QStringLiteral("Label5"));
    form->addRow(QStringLiteral("Domain:"), Label5);
    Label7 = new QLabel(statusBox);
    Label7->setObjectName(QStringLiteral("Label7"));
    Label7->setWordWrap(true);
    Label7->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    form->addRow(QStringLiteral("Input:"), Label7);
    Label11 = new QLabel(QStringLiteral("Last Response:"), statusBox);
    Label11->setObjectName(QStringLiteral("Label11"));
    Label12 = new QLabel(QStringLiteral("Log in..."), statusBox);
    Label12->setObjectName(QStringLiteral("Label12"));
    Label12->setWordWrap(true);
    Label12->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::MinimumExpanding);
    form->addRow(Label11, Label12);
    Label10 = new QLabel(QStringLiteral("http://127.0.0.1/"), statusBox);
    Label10->setObjectName(QStringLiteral("Label10"));
    QFont underlined = Label10->font();
    underlined.setUnderline(true);
    Label10->setFont(underlined);
    Label10->setCursor(Qt::PointingHandCursor);
    Label10->setMouseTracking(true);
    setLabelColour(Label10, QColor(0, 0, 255));
    form->addRow(Label10);
    Label1 = new QLabel(QStringLiteral("0 min. runned"), statusBox);
    Label1->setObjectName(QStringLiteral("Label1"));
    form->addRow(Label1);
    // Shown by the engine once it has an address.
    Label10->hide();
    Label11->hide();
    Label12->hide();
    for (QLabel* l : {Label8, Label9, Label12}) {
        l->setMouseTracking(true);
        l->installEventFilter(this);
    }
    Label10->installEventFilter(this);
    side->addWidget(statusBox);

    auto* switchRow = new QHBoxLayout;
    Check1 = new QCheckBox(QStringLiteral("ONLINE"), m_sidePanel);
    Check1->setObjectName(QStringLiteral("Check1"));
    Check1->setFont(bold);
    Command4 = new QPushButton(QStringLiteral("Change >"), m_sidePanel);
    Command4->setObjectName(QStringLiteral("Command4"));
    switchRow->addWidget(Check1);
    switchRow->addStretch(1);
    switchRow->addWidget(Command4);
    side->addLayout(switchRow);
    connect(Check1, &QCheckBox::toggled, this, &MainWindow::Check1_Click);
    connect(Command4, &QPushButton::clicked, this, &MainWindow::Command4_Click);

    Frame1 = new QGroupBox(QStringLiteral("Change"), m_sidePanel);
    Frame1->setObjectName(QStringLiteral("Frame1"));
    auto* login = new QFormLayout(Frame1);
    Combo1 = new QComboBox(Frame1);
    Combo1->setObjectName(QStringLiteral("Combo1"));
    Combo1->setEditable(true);
    Text3 = new QLineEdit(Frame1);
    Text3->setObjectName(QStringLiteral("Text3"));
    Text4 = new QLineEdit(Frame1);
    Text4->setObjectName(QStringLiteral("Text4"));
    Text4->setEchoMode(QLineEdit::Password);
    Command2 = new QPushButton(QStringLiteral("OK"), Frame1);
    Command2->setObjectName(QStringLiteral("Command2"));
    login->addRow(QStringLiteral("Domain:"), Combo1);
    login->addRow(QStringLiteral("Username:"), Text3);
    login->addRow(QStringLiteral("Password:"), Text4);
    login->addRow(QString(), Command2);
    Frame1->hide();
    side->addWidget(Frame1);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);

    side->addStretch(1);
    auto* tools = new QHBoxLayout;
    Command1 = new QPushButton(recordIcon(), QStringLiteral("Record movie"), m_sidePanel);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setIconSize(QSize(24, 24));
    Command1->setToolTip(QStringLiteral("Closes Vantora and starts the movie recorder"));
    Command3 = new QPushButton(snapshotIcon(), QStringLiteral("Snapshots"), m_sidePanel);
    Command3->setObjectName(QStringLiteral("Command3"));
    Command3->setIconSize(QSize(24, 24));
    Command3->setToolTip(QStringLiteral("Timed snapshots"));
    tools->addWidget(Command1);
    tools->addWidget(Command3);
    side->addLayout(tools);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(Command3, &QPushButton::clicked, this, &MainWindow::Command3_Click);
    outer->addWidget(m_sidePanel);

    Timer1 = new QTimer(this);
    Timer1->setInterval(60000);
    connect(Timer1, &QTimer::timeout, this, &MainWindow::Timer1_Timer);
    Timer1->start();
    Timer3 = new QTimer(this);
    Timer3->setInterval(1500);
    Timer3->setSingleShot(true);
    connect(Timer3, &QTimer::timeout, this, &MainWindow::Timer3_Timer);

    Winsock1 = new QTcpSocket(this);
    connect(Winsock1, &QTcpSocket::connected, this, &MainWindow::Winsock1_Connect);
    connect(Winsock1, &QTcpSocket::readyRead, this, &MainWindow::Winsock1_DataArrival);
    connect(Winsock1, &QTcpSocket::disconnected, Winsock1, [this] { Winsock1->abort(); });
    connect(Winsock1, &QTcpSocket::errorOccurred, Winsock1, [this] { Winsock1->abort(); });

    resize(780, 540);
}

// ------------------------------------------------------------------ start-up

bool MainWindow::runStartup()
{
    StartupSequence sequence;
    const bool started = sequence.run(*this);
    m_startupRecord = sequence.record();
    return started;
}

void MainWindow::status(const QString& text)
{
    if (SplashScreen* s = splashScreen())
        s->Label2->setText(text);
}

void MainWindow::bar(int percent)
{
    if (SplashScreen* s = splashScreen())
        s->bar(percent);
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

bool MainWindow::isWindowsNT() { return ::IsWindowsNT(); }

void MainWindow::stopMessengerService()
{
    // Only NT-family systems have it; never reached here.
}

void MainWindow::loadTray() { loadTrayIcon(); }

void MainWindow::selectDriver(int index)
{
    m_driverSelected = Cap->setDriverIndex(index);
    Label7->setText(Cap->driverDescription(index));
}

void MainWindow::enableUpdateTimer() { Timer3->start(); }

bool MainWindow::connectVideo()
{
    // A driver number that names no device must not fall back to another camera.
    if (m_driverSelected)
        Cap->grabFrame();
    Cap->setPreview(true);
    return Cap->connected();
}

void MainWindow::showDriverFailure()
{
    CameraUnavailableDialog* f = driverFailureWindow(this);
    setEnabled(false);
    f->show();
}

void MainWindow::setEngineState(const QString& text) { Label9->setText(text); }

void MainWindow::loadEngine() { seams::loadEngine(); }

void MainWindow::showActiveConnections()
{
    seams::showActiveConnections(this);
    mnuActiveConnections->setChecked(true);
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
    Combo1->clear();
    Combo1->addItems(domains);
    Combo1->setCurrentIndex(0);
    Text3->setText(user);
    Label2->setText(user);
    Text4->setText(password);
    Combo1->setEditText(domain);
    Label5->setText(domain);
}

void MainWindow::setOnlineSwitch(int value) { Check1->setChecked(value == 1); }

// ------------------------------------------------------------------ handlers

void MainWindow::Check1_Click()
{
    Globals& g = globals();
    const bool on = Check1->isChecked();
    g.OnlineSwitch = on;
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), Text3->text());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), Text4->text());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Enable"), on ? QStringLiteral("1") : QStringLiteral("0"));
    if (!on) {
        g.GoingOffline = true;
        Label9->setText(QStringLiteral("OFF"));
        Label12->setText(QStringLiteral("Logging off..."));
        if (EngineWindow* e = seams::engine())
            e->logOff();
    } else {
        Label9->setText(QStringLiteral("ON"));
        desktop::doEvents();
        g.GoingOffline = false;
        seams::loadEngine();
    }
}

void MainWindow::Command4_Click() { Frame1->show(); }

void MainWindow::Command2_Click()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), Text3->text());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), Text4->text());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), Combo1->currentText());
    Label2->setText(Text3->text());
    Label5->setText(Combo1->currentText());
    MessageBox::information(this, globals().AppName,
                            QStringLiteral("You have to go OFFLINE and then ONLINE to apply changes"));
    Frame1->hide();
}

void MainWindow::Timer1_Timer()
{
    if (MinutesRunning < 32767)
        ++MinutesRunning;
    Label1->setText(QString::number(MinutesRunning) + QLatin1String(" min. runned"));
    Cap->setPreview(true);
}

void MainWindow::Cap_Error(int number, const QString& description)
{
    Q_UNUSED(number);
    if (!globals().ShowCamErrors || description.isEmpty())
        return;
    ShowErrorWindow(QLatin1String("Video Device Error: ") + description
                    + QLatin1String("\r\n\r\nGo to Camera Options to disable this error message (Configure -> "
                                    "Camera Options"));
}

void MainWindow::mnuActiveConnections_Click()
{
    if (!seams::activeConnectionsVisible()) {
        seams::showActiveConnections(this);
    } else {
        seams::unloadActiveConnections();
    }
    mnuActiveConnections->setChecked(seams::activeConnectionsVisible());
}

void MainWindow::mnuPreview_Click()
{
    if (Picture1->isVisible()) {
        mnuPreview->setChecked(false);
        mnuFullscreen->setEnabled(false);
        Picture1->hide();
        Cap->setPreview(false);
    } else {
        mnuPreview->setChecked(true);
        mnuFullscreen->setEnabled(true);
        Picture1->show();
        Cap->setPreview(true);
    }
}

void MainWindow::mnuInvite_Click()
{
    if (!globals().LoggedIn) {
        ShowErrorWindow(QStringLiteral("You must login first!"));
        return;
    }
    seams::openInvitation(this);
}

void MainWindow::mnuHelp_Click(int index)
{
    switch (index) {
    case 0: desktop::openDocument(product::pageUrl(product::Page::Help)); break;
    case 1: desktop::openDocument(product::pageUrl(product::Page::Support)); break;
    case 3: {
        AboutDialog* about = aboutWindow();
        about->setModal(true);
        about->exec();
        break;
    }
    case 4:
        MessageBox::plain(this, globals().AppName + QLatin1String(" System Info Window"),
                          QLatin1String("OS Information:\n") + (globals().OsName.isEmpty() ? GetOsName() : globals().OsName)
                              + u'\n' + productNotice());
        break;
    default: break;
    }
}

void MainWindow::Command3_Click() { seams::openSnapshots(this); }

void MainWindow::Command1_Click()
{
    QString error;
    if (startRecorder(m_recorderFolder, &error))
        unloadMainWindow();
    else
        ShowErrorWindow(error);
}

// ------------------------------------------------------------------ full screen

void MainWindow::mnuFullscreen_Click()
{
    if (m_fullScreen)
        return;
    m_fullScreen = true;
    m_normalGeometry = geometry();
    mnuPreview->setEnabled(false);
    AlwaysOnTop(this, true);
    const QRect screenRect = screen() ? screen()->geometry() : QRect(0, 0, 1024, 768);
    Cap->setStretch(true);
    menuBar()->hide();
    m_sidePanel->hide();
    centralWidget()->layout()->setContentsMargins(0, 0, 0, 0);
    Picture1->setFrameShape(QFrame::NoFrame);
    showFullScreen();
    Picture1->setGeometry(QRect(QPoint(0, 0), screenRect.size()));
    Cap->setDisplayRect(QRect(QPoint(0, 0), screenRect.size()));
    Command5->setEnabled(true);
    Command5->adjustSize();
    Command5->move(screenRect.width() / 2 - Command5->width() / 2, 0);
    Command5->show();
    Command5->raise();
}

void MainWindow::Command5_Click()
{
    if (!m_fullScreen)
        return;
    m_fullScreen = false;
    AlwaysOnTop(this, false);
    mnuPreview->setEnabled(true);
    Command5->setEnabled(false);
    Command5->hide();
    Cap->setStretch(false);
    menuBar()->show();
    m_sidePanel->show();
    centralWidget()->layout()->setContentsMargins(8, 8, 8, 8);
    Picture1->setFrameShape(QFrame::StyledPanel);
    showNormal();
    if (m_normalGeometry.isValid())
        setGeometry(m_normalGeometry);
    layoutPreview();
}

void MainWindow::layoutPreview()
{
    if (Cap && Picture1)
        Cap->setDisplayRect(m_fullScreen ? Picture1->rect() : Picture1->contentsRect());
}

// ------------------------------------------------------------------ update check

void MainWindow::Timer3_Timer()
{
    Timer3->stop();
    m_updateAnswered = false;
    const QString host = globals().ServerHost;
    Winsock1->abort();
    Winsock1->connectToHost(product::hostOf(host), product::portOf(host));
}

void MainWindow::Winsock1_Connect() { Winsock1->write(updatecheck::request(globals().ServerHost)); }

void MainWindow::Winsock1_DataArrival()
{
    // The first piece is taken as the whole answer.
    if (m_updateAnswered)
        return;
    m_updateAnswered = true;
    const QByteArray response = Winsock1->readAll();
    Winsock1->abort();
    const auto offer = updatecheck::parse(response, version::compact());
    if (!offer)
        return;
    NewVersionWindow* w = newVersionWindow();
    w->Text1->setPlainText(offer->notes);
    w->Label3->setText(QLatin1String("New version: ") + offer->version);
}

// ------------------------------------------------------------------ window events

void MainWindow::showWindowFromTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    Cap->setPreview(true);
    desktop::doEvents();
    show();
    raise();
    activateWindow();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized() && !m_unloading
        && static_cast<QWindowStateChangeEvent*>(event)->oldState().testFlag(Qt::WindowMinimized)) {
        // Restored from the task bar: the picture comes back at once, not at the
        // next minute tick (unless the user switched the preview off).
        if (mnuPreview->isChecked())
            Cap->setPreview(true);
    }
    if (event->type() == QEvent::WindowStateChange && isMinimized() && !m_unloading) {
        // It lives on in the tray. Without a notification area it stays
        // minimised in the task bar: hidden, nothing could bring it back.
        Cap->setPreview(false);
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
    if (watched == Label10) {
        if (t == QEvent::Enter || t == QEvent::MouseMove)
            setLabelColour(Label10, QColor(255, 0, 0));
        else if (t == QEvent::MouseButtonRelease)
            desktop::openDocument(QUrl(Label10->text()));
    } else if (watched == Picture1) {
        if (t == QEvent::Resize)
            layoutPreview();
    } else if (t == QEvent::Enter || t == QEvent::MouseMove) {
        setLabelColour(Label10, QColor(0, 0, 255));
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
    SaveSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowVisible"),
                seams::activeConnectionsVisible() ? QStringLiteral("True") : QStringLiteral("False"));
    step(QStringLiteral("save WindowVisible"));

    // 2.
    Cap->setPreview(false);
    step(QStringLiteral("preview off"));
    Cap->disconnectDriver();
    step(QStringLiteral("disconnect driver"));

    // 3.
    Timer1->stop();
    Timer3->stop();
    Winsock1->abort();
    step(QStringLiteral("timers off"));

    // 4. Engine handlers that run during the log-off see GoingOffline.
    g.GoingOffline = true;
    desktop::doEvents();
    if (EngineWindow* e = seams::engine())
        e->logOff();
    step(QStringLiteral("log off"));
    desktop::doEvents();
    g.GoingOffline = true;
    desktop::doEvents();

    // 5.
    const auto unloadStep = [&](const QString& name, const std::function<void()>& unload) {
        unload();
        step(QLatin1String("unload ") + name);
        desktop::doEvents();
    };
    unloadStep(QStringLiteral("Threat"), [] { seams::unloadWindow(QStringLiteral("Threat")); });
    unloadStep(QStringLiteral("frmTray"), [] { unloadTrayIcon(); });
    unloadStep(QStringLiteral("frmConfig"), [] { seams::unloadWindow(QStringLiteral("frmConfig")); });
    unloadStep(QStringLiteral("Form5"), [] { unloadDriverFailureWindow(); });
    unloadStep(QStringLiteral("frmAbout"), [] { unloadAboutWindow(); });
    unloadStep(QStringLiteral("frmPictures"), [] { seams::unloadWindow(QStringLiteral("frmPictures")); });
    unloadStep(QStringLiteral("frmJPEGPreview"), [] { seams::unloadWindow(QStringLiteral("frmJPEGPreview")); });
    unloadStep(QStringLiteral("frmNewVersion"), [] { unloadNewVersionWindow(); });
    unloadStep(QStringLiteral("frmSplash"), [] { unloadSplash(); });
    unloadStep(QStringLiteral("Form2"), [] { seams::unloadActiveConnections(); });

    // 6.
    g.GoingOffline = true;
    desktop::doEvents();
    desktop::doEvents();
    theMain = nullptr;
    hide();
    m_instanceLock.reset();
    deleteLater(); // this may be running inside one of its own handlers
    step(QStringLiteral("unload frmCustomCaption"));
    desktop::doEvents();
    step(QStringLiteral("end"));
    // The log-off travels on its own connection: end once the engine has
    // unloaded on the server's answer (or at once when it was not logged in),
    // or after a grace period without an answer. Ending at once would leave the
    // member listed as online with a camera that is gone.
    auto ended = std::make_shared<bool>(false);
    const auto end = [ended] {
        if (std::exchange(*ended, true))
            return;
        desktop::endProgram();
    };
    if (seams::engine())
        QTimer::singleShot(kLogoffGraceMs, qApp, end);
    seams::whenEngineUnloaded(end);
}
