#include "shell/SplashScreen.h"

#include "shell/Globals.h"
#include "shell/SystemUtils.h"
#include "shell/Version.h"

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
    setObjectName(QStringLiteral("SplashScreen"));
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

    statusLabel = new QLabel(QStringLiteral("Loading core of application..."), this);
    statusLabel->setObjectName(QStringLiteral("statusLabel"));
    layout->addWidget(statusLabel);

    m_track = new QFrame(this);
    m_track->setFixedHeight(14);
    m_track->setFrameShape(QFrame::Box);
    m_track->setStyleSheet(QStringLiteral("QFrame { border: 1px solid #9fb7d6; background: #16304f; }"));
    progressBar = new QFrame(m_track);
    progressBar->setObjectName(QStringLiteral("progressBar"));
    progressBar->setStyleSheet(QStringLiteral("QFrame { border: none; background: #6fb3ff; }"));
    layout->addWidget(m_track);

    auto* bottom = new QHBoxLayout;
    versionLabel = new QLabel(QStringLiteral("Version"), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    platformLabel = new QLabel(this);
    platformLabel->setObjectName(QStringLiteral("platformLabel"));
    bottom->addWidget(versionLabel);
    bottom->addStretch(1);
    bottom->addWidget(platformLabel);
    layout->addLayout(bottom);

    setProgress(0);
    globals().OsName = osName();
    platformLabel->setText(globals().OsName);
    versionLabel->setText(QLatin1String("Version ") + version::dotted());

    loadDelay = new QTimer(this);
    loadDelay->setSingleShot(true);
    loadDelay->setInterval(200);
    connect(loadDelay, &QTimer::timeout, this, &SplashScreen::onLoadDelay);
    loadDelay->start();
}

SplashScreen::~SplashScreen() = default;

void SplashScreen::setProgress(int percent)
{
    m_percent = percent;
    const int full = m_track->width() - 2;
    progressBar->setGeometry(1, 1, qBound(0, full * percent / 100, full), m_track->height() - 2);
    progressBar->update();
}

void SplashScreen::showStatus(const QString& text)
{
    statusLabel->setText(text);
    paintNow();
}

void SplashScreen::showProgress(int percent)
{
    setProgress(percent);
    paintNow();
}

void SplashScreen::paintNow()
{
    if (isVisible())
        repaint();
}

void SplashScreen::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    emit painted(statusLabel->text(), m_percent);
}

void SplashScreen::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    setProgress(m_percent);
}

void SplashScreen::onLoadDelay()
{
    loadDelay->stop();
    setProgress(10);
    emit loadDue();
}
