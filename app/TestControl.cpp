#include "app/TestControl.h"

#include "capture/Prompt.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

namespace {

QWidget* findWindow(const QJsonObject& q)
{
    const QString name = q.value(QLatin1String("window")).toString();
    int index = q.value(QLatin1String("index")).toInt();
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name && w->isVisible() && index-- == 0)
            return w;
    }
    return nullptr;
}

QWidget* findChildWidget(const QJsonObject& q, QWidget* window)
{
    const QString child = q.value(QLatin1String("child")).toString();
    if (!window || child.isEmpty())
        return window;
    return window->findChild<QWidget*>(child);
}

QString textOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* e = qobject_cast<QPlainTextEdit*>(w))
        return e->toPlainText();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    return w->windowTitle();
}

QJsonObject handle(const QJsonObject& q)
{
    const QString op = q.value(QLatin1String("op")).toString();
    QJsonObject a;
    if (op == QLatin1String("state")) {
        const Globals& g = globals();
        a[QLatin1String("loggedIn")] = g.LoggedIn;
        a[QLatin1String("publicAddress")] = g.PublicAddress;
        a[QLatin1String("behindRouter")] = g.BehindRouter;
        a[QLatin1String("accountName")] = g.AccountName;
        if (MainWindow* main = mainWindow()) {
            a[QLatin1String("lastResponse")] = main->lastResponseLabel->text();
            if (auto* engine = qobject_cast<StreamingEngine*>(main->onlineController()->session()))
                a[QLatin1String("port")] = engine->listenPort();
        }
        return a;
    }
    if (op == QLatin1String("boxes")) {
        QJsonArray boxes;
        for (const MessageBox::Shown& s : MessageBox::history())
            boxes.append(s.text);
        a[QLatin1String("boxes")] = boxes;
        return a;
    }
    if (op == QLatin1String("action")) {
        const QString text = q.value(QLatin1String("text")).toString();
        for (QWidget* w : QApplication::allWidgets()) {
            for (QAction* action : w->findChildren<QAction*>()) {
                if (action->text() == text) {
                    QTimer::singleShot(0, action, &QAction::trigger);
                    a[QLatin1String("ok")] = true;
                    return a;
                }
            }
        }
        a[QLatin1String("ok")] = false;
        return a;
    }
    QWidget* window = findWindow(q);
    QWidget* w = findChildWidget(q, window);
    a[QLatin1String("ok")] = w != nullptr;
    if (!w)
        return a;
    if (op == QLatin1String("text")) {
        a[QLatin1String("text")] = textOf(w);
        a[QLatin1String("title")] = window->windowTitle();
        a[QLatin1String("enabled")] = w->isEnabled();
    } else if (op == QLatin1String("set")) {
        const QString text = q.value(QLatin1String("text")).toString();
        if (auto* e = qobject_cast<QLineEdit*>(w))
            e->setText(text);
        else if (auto* e = qobject_cast<QPlainTextEdit*>(w)) {
            // As typed: the caret ends after the text.
            e->clear();
            e->insertPlainText(text);
        } else if (auto* c = qobject_cast<QComboBox*>(w))
            c->setCurrentText(text);
        else
            a[QLatin1String("ok")] = false;
    } else if (op == QLatin1String("click")) {
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            QTimer::singleShot(0, b, &QAbstractButton::click);
        else
            a[QLatin1String("ok")] = false;
    } else if (op == QLatin1String("enter")) {
        // What pressing and releasing Enter does in the widget.
        QPointer<QWidget> target(w);
        QTimer::singleShot(0, w, [target] {
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
            if (target)
                QApplication::sendEvent(target, &press);
            if (target)
                QApplication::sendEvent(target, &release);
        });
    } else if (op == QLatin1String("grab")) {
        a[QLatin1String("ok")] = window->grab().save(q.value(QLatin1String("path")).toString());
    } else if (op == QLatin1String("close")) {
        QTimer::singleShot(0, window, &QWidget::close);
    } else {
        a[QLatin1String("ok")] = false;
    }
    return a;
}

} // namespace

bool startTestControl(QObject* parent)
{
    const QString name = qEnvironmentVariable("VANTORA_TEST_CONTROL");
    if (name.isEmpty())
        return true;
    auto* server = new QLocalServer(parent);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(name);
    if (!server->listen(name))
        return false;
    QObject::connect(server, &QLocalServer::newConnection, server, [server] {
        while (QLocalSocket* s = server->nextPendingConnection()) {
            QObject::connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            QObject::connect(s, &QLocalSocket::readyRead, s, [s] {
                while (s->canReadLine()) {
                    const QJsonObject q = QJsonDocument::fromJson(s->readLine()).object();
                    s->write(QJsonDocument(handle(q)).toJson(QJsonDocument::Compact) + '\n');
                }
            });
        }
    });
    return true;
}
