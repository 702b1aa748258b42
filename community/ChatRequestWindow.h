#pragma once
// The request window: bottom right, above other windows, asks whether to
// accept a chat request; ChatRequest does the checks and the answer.

#include <QWidget>

#include "community/ChatRequest.h"

class QLabel;
class QPushButton;

class ChatRequestWindow : public QWidget
{
    Q_OBJECT
public:
    // A request arrived on our server from `peerAddress`: shows it, or
    // changes nothing when it is dropped.
    static void askChat(const QString& request, const QString& peerAddress);
    static ChatRequestWindow* instance();

    explicit ChatRequestWindow(QWidget* owner = nullptr);

    QLabel* headerLabel = nullptr;
    QLabel* questionLabel = nullptr;
    QPushButton* yesButton = nullptr;
    QPushButton* noButton = nullptr;
    ChatRequest request;

    void onYes();
    void onNo();

private:
    void placeBottomRight();
};
