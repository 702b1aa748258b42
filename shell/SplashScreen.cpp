#include "shell/SplashScreen.h"

#include "shell/Globals.h"
#include "shell/SystemUtils.h"
#include "shell/Version.h"
#include "shell/MainWindow.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPointer<SplashScreen> theSplash;
}

SplashScreen* splashScreen() { return theSplash; }

SplashScreen* loadSplash()
{
    if (!theSplash)
        theSplash = new SplashScreen;
    return theSplash;
}

void unloadSplash()
{
    // Start-up unloads it from inside the splash's own timer handler.
    if (SplashScreen* s = theSplash.data()) {
        theSplash = nullptr;
        s->hide();
        s->deleteLater();
    }
}

SplashScreen::SplashScreen(QWidget* parent) : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(420, 220);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1f, 0x3a, 0x5f));
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    auto* title = new QLabel(globals().AppName, this);
    QFont big = title->font();
    big.setPointSize(big.pointSize() * 2);
    big.setBold(true);
    title->setFont(big);
    layout->addWidget(title);
    auto* subtitle = new QLabel(QStringLiteral("Webcam client"), this);
    layout->addWidget(subtitle);
    layout->addStretch(1);

    Label2 = new QLabel(QStringLiteral("Loading core of application..."), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    layout->addWidget(Label2);

    m_track = new QFrame(this);
    m_track->setFixedHeight(14);
    m_track->setFrameShape(QFrame::Box);
    m_track->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #9fb7d6; background: #16304f; }"));
    Shape1 = new QFrame(m_track);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setStyleSheet(QStringLiteral("QFrame { border: none; background: #6fb3ff; }"));
    layout->addWidget(m_track);

    auto* bottom = new QHBoxLayout;
    lblVersion = new QLabel(QStringLiteral("Version"), this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    lblPlatform = new QLabel(this);
    lblPlatform->setObjectName(QStringLiteral("lblPlatform"));
    bottom->addWidget(lblVersion);
    bottom->addStretch(1);
    bottom->addWidget(lblPlatform);
    layout->addLayout(bottom);

    bar(0);
    globals().OsName = GetOsName();
    lblPlatform->setText(globals().OsName);
    lblVersion->setText(QLatin1String("Version ") + version::dotted());

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    Timer1->setInterval(200);
    connect(Timer1, &QTimer::timeout, this, &SplashScreen::Timer1_Timer);
    Timer1->start();
}

SplashScreen::~SplashScreen() = default;

void SplashScreen::bar(int breed)
{
    m_percent = breed;
    const int full = m_track->width() - 2;
    Shape1->setGeometry(1, 1, qBound(0, full * breed / 100, full), m_track->height() - 2);
    Shape1->update();
}

void SplashScreen::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    bar(m_percent);
}

void SplashScreen::Timer1_Timer()
{
    Timer1->stop();
    bar(10);
    loadMainWindow();
}
