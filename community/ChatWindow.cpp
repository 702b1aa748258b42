#include "community/ChatWindow.h"

#include "community/ChatProtocol.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/Settings.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {
QList<QPointer<ChatWindow>> windowsOpen;

// Where our server listens is where the peer reached us: the chat listens there too.
QHostAddress chatListenAddress()
{
    const QString text = Settings::instance().get(setting::ListenAddress).trimmed();
    QHostAddress address;
    if (!text.isEmpty() && address.setAddress(text))
        return address;
    return QHostAddress::Any;
}
} // namespace

QList<ChatWindow*> ChatWindow::openWindows()
{
    QList<ChatWindow*> list;
    for (const QPointer<ChatWindow>& w : std::as_const(windowsOpen)) {
        if (w)
            list.append(w);
    }
    return list;
}

quint16 ChatWindow::initChat(const QString& name)
{
    const QString peer = chat::cleanPeerName(name);
    auto* w = new ChatWindow(mainWindow());
    const quint16 port = w->conversation.listen(peer, chatListenAddress());
    if (port == 0) {
        delete w;
        return 0;
    }
    w->showFor(peer);
    return port;
}

ChatWindow* ChatWindow::connectChat(const QString& address, quint16 port, const QString& name)
{
    auto* w = new ChatWindow(mainWindow());
    w->conversation.connectTo(address, port, name);
    w->showFor(name);
    return w;
}

ChatWindow::ChatWindow(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("chat"));
    setAttribute(Qt::WA_DeleteOnClose);
    windowsOpen.removeAll(nullptr);
    windowsOpen.append(this);

    auto* layout = new QVBoxLayout(this);
    peerLabel = new QLabel(this);
    peerLabel->setObjectName(QStringLiteral("peer"));
    peerLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(peerLabel);
    historyBox = new QPlainTextEdit(this);
    historyBox->setObjectName(QStringLiteral("history"));
    historyBox->setReadOnly(true);
    historyBox->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    historyBox->setPlainText(conversation.history());
    layout->addWidget(historyBox, 1);
    inputBox = new QPlainTextEdit(this);
    inputBox->setObjectName(QStringLiteral("input"));
    inputBox->setTabChangesFocus(true);
    inputBox->setFixedHeight(inputBox->fontMetrics().lineSpacing() * 3 + 12);
    inputBox->installEventFilter(this);
    layout->addWidget(inputBox);
    resize(420, 360);

    connect(inputBox, &QPlainTextEdit::textChanged, this, &ChatWindow::onInputChanged);
    connect(&conversation, &ChatConversation::appended, this, [this](const QString& text) {
        QTextCursor end = historyBox->textCursor();
        end.movePosition(QTextCursor::End);
        end.insertText(text);
        scrollToEnd();
    });
    connect(&conversation, &ChatConversation::historyReset, this, [this] {
        historyBox->setPlainText(conversation.history());
        scrollToEnd();
    });
    connect(&conversation, &ChatConversation::conversationEnded, this,
            [this] { inputBox->setEnabled(false); });
}

void ChatWindow::showFor(const QString& name)
{
    peerLabel->setText(QStringLiteral("To: ") + name);
    setWindowTitle(name + QStringLiteral(" - Vantora Chat"));
    show();
    raise();
    inputBox->setFocus();
}

void ChatWindow::scrollToEnd()
{
    QScrollBar* bar = historyBox->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void ChatWindow::onInputChanged()
{
    // The box holds 500 characters at most, the line break of Enter aside.
    const QString text = inputBox->toPlainText();
    QString body = text;
    if (body.endsWith(u'\n'))
        body.chop(1);
    if (body.size() <= ChatConversation::kMaxInputChars)
        return;
    body.truncate(ChatConversation::kMaxInputChars);
    if (body.back().isHighSurrogate())
        body.chop(1);
    if (text.endsWith(u'\n'))
        body += u'\n';
    const QSignalBlocker block(inputBox);
    inputBox->setPlainText(body);
    inputBox->moveCursor(QTextCursor::End);
}

bool ChatWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == inputBox && event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            onEnterReleased();
    }
    return QWidget::eventFilter(watched, event);
}

void ChatWindow::onEnterReleased()
{
    const QString text = inputBox->toPlainText();
    if (text.isEmpty() || !inputBox->isEnabled())
        return;
    conversation.send(globals().AccountName, text);
    inputBox->clear();
}
