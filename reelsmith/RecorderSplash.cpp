#include "reelsmith/RecorderSplash.h"

#include "reelsmith/RecorderWindow.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

RecorderSplash::RecorderSplash(const QStringList& args, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), arguments(args)
{
    setWindowTitle(QString());
    setAttribute(Qt::WA_DeleteOnClose);
    messageLabel = new QLabel(QStringLiteral("Please wait... Loading Reel Smith"), this);
    messageLabel->setAlignment(Qt::AlignCenter);
    QFont f = messageLabel->font();
    f.setPointSize(f.pointSize() + 4);
    messageLabel->setFont(f);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 30, 40, 30);
    layout->addWidget(messageLabel);
    setStyleSheet(QStringLiteral("RecorderSplash { border: 2px solid palette(dark); }"));

    openTimer = new QTimer(this);
    openTimer->setInterval(5000);
    openTimer->setSingleShot(true);
    connect(openTimer, &QTimer::timeout, this, &RecorderSplash::openMainWindow);
    openTimer->start();
}

void RecorderSplash::openMainWindow()
{
    openTimer->stop();
    if (opened)
        return;
    opened = new RecorderWindow(arguments);
    opened->setAttribute(Qt::WA_DeleteOnClose);
    opened->show();
    close();
}
