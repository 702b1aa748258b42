#pragma once
// The recorder's start window: no title, one line of text, and after five
// seconds the main window.

#include <QStringList>
#include <QWidget>

class QLabel;
class QTimer;
class RecorderWindow;

class RecorderSplash : public QWidget
{
    Q_OBJECT
public:
    explicit RecorderSplash(const QStringList& arguments, QWidget* parent = nullptr);

    void openMainWindow();

    QLabel* messageLabel;
    QTimer* openTimer;
    // The main window it opened, once the timer fired.
    RecorderWindow* mainWindow() const { return opened; }

private:
    QStringList arguments;
    RecorderWindow* opened = nullptr;
};
