#include "community/ChatRequestWindow.h"

#include "community/ChatWindow.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QPointer<ChatRequestWindow> openWindow;
} // namespace

ChatRequestWindow* ChatRequestWindow::instance() { return openWindow.data(); }

void ChatRequestWindow::askChat(const QString& request, const QString& peerAddress)
{
    ChatRequestWindow* w = openWindow;
    const bool made = !w;
    if (made)
        w = new ChatRequestWindow(mainWindow());
    if (!w->request.ask(request, peerAddress, globals().BehindRouter)) {
        if (made)
            delete w; // nothing was shown: nothing stays
        return;
    }
    openWindow = w;
    w->questionLabel->setText(w->request.question());
    w->yesButton->setEnabled(true);
    w->noButton->setEnabled(true);
    w->show();
    w->placeBottomRight();
    w->raise();
}

ChatRequestWindow::ChatRequestWindow(QWidget* owner)
    : QWidget(owner, Qt::Window | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint)
{
    setObjectName(QStringLiteral("chatRequest"));
    setWindowTitle(QStringLiteral(" "));
    setAttribute(Qt::WA_DeleteOnClose);
    // 5220 x 1725 twips.
    setFixedSize(348, 115);

    auto* layout = new QVBoxLayout(this);
    headerLabel = new QLabel(QStringLiteral(" Vantora Chat"), this);
    QFont bold = headerLabel->font();
    bold.setBold(true);
    headerLabel->setFont(bold);
    layout->addWidget(headerLabel);
    questionLabel = new QLabel(this);
    questionLabel->setObjectName(QStringLiteral("question"));
    // Names come from the network: never read as markup.
    questionLabel->setTextFormat(Qt::PlainText);
    questionLabel->setWordWrap(true);
    layout->addWidget(questionLabel, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    yesButton = new QPushButton(QStringLiteral("Yes"), this);
    yesButton->setObjectName(QStringLiteral("yes"));
    noButton = new QPushButton(QStringLiteral("No"), this);
    noButton->setObjectName(QStringLiteral("no"));
    buttons->addWidget(yesButton);
    buttons->addWidget(noButton);
    layout->addLayout(buttons);

    connect(yesButton, &QPushButton::clicked, this, &ChatRequestWindow::onYes);
    connect(noButton, &QPushButton::clicked, this, &ChatRequestWindow::onNo);
    connect(&request, &ChatRequest::chatReady, this,
            [](const QString& address, quint16 port, const QString& name) {
                ChatWindow::connectChat(address, port, name);
            });
    connect(&request, &ChatRequest::finished, this, &QWidget::close);
}

void ChatRequestWindow::placeBottomRight()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    // The outer size, frame included, once shown.
    const QSize size = frameGeometry().size();
    // 500 twips above the bottom, 100 twips from the right.
    move(area.right() + 1 - size.width() - 7, area.bottom() + 1 - size.height() - 33);
}

void ChatRequestWindow::onYes()
{
    if (request.state() != ChatRequest::State::Asking)
        return;
    questionLabel->setText(QStringLiteral("Connection..."));
    yesButton->setEnabled(false);
    noButton->setEnabled(false);
    request.accept(globals().AccountName);
}

void ChatRequestWindow::onNo()
{
    if (request.state() != ChatRequest::State::Asking)
        return;
    request.reject();
    hide();
}
