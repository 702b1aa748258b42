#pragma once
// One conversation's window: the history, the peer's name and the input box;
// Enter sends what the box holds. ChatConversation does the talking.

#include <QWidget>

#include "community/ChatConversation.h"

class QLabel;
class QPlainTextEdit;

class ChatWindow : public QWidget
{
    Q_OBJECT
public:
    // Inviting side: a new window listening for `name`; returns its port (0
    // when it could not listen, and then no window stays).
    static quint16 initChat(const QString& name);
    // Invited side: a new window connected to the inviting side's chat port.
    static ChatWindow* connectChat(const QString& address, quint16 port, const QString& name);
    // Every chat window open now.
    static QList<ChatWindow*> openWindows();

    explicit ChatWindow(QWidget* owner = nullptr);

    QLabel* peerLabel = nullptr;
    QPlainTextEdit* historyBox = nullptr;
    QPlainTextEdit* inputBox = nullptr;
    ChatConversation conversation;

    // The Enter key was released in the input box.
    void onEnterReleased();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showFor(const QString& name);
    void onInputChanged();
    void scrollToEnd();
};
