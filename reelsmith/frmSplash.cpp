#include "frmSplash.h"

#include "frmMain.h"

#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

frmSplash::frmSplash(const QStringList& args, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), arguments(args)
{
    setWindowTitle(QString());
    setAttribute(Qt::WA_DeleteOnClose);
    Label1 = new QLabel(QStringLiteral("Please wait... Loading Reel Smith"), this);
    Label1->setAlignment(Qt::AlignCenter);
    QFont f = Label1->font();
    f.setPointSize(f.pointSize() + 4);
    Label1->setFont(f);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(40, 30, 40, 30);
    layout->addWidget(Label1);
    setStyleSheet(QStringLiteral("frmSplash { border: 2px solid palette(dark); }"));

    Timer1 = new QTimer(this);
    Timer1->setInterval(5000);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &frmSplash::Timer1_Timer);
    Timer1->start();
}

void frmSplash::Timer1_Timer()
{
    Timer1->stop();
    if (opened)
        return;
    opened = new frmMain(arguments);
    opened->setAttribute(Qt::WA_DeleteOnClose);
    opened->show();
    close();
}
