#pragma once
// The recorder's start window: no title, one line of text, and after five
// seconds the main window.

#include <QStringList>
#include <QWidget>

class QLabel;
class QTimer;
class frmMain;

class frmSplash : public QWidget
{
    Q_OBJECT
public:
    explicit frmSplash(const QStringList& arguments, QWidget* parent = nullptr);

    void Timer1_Timer();

    QLabel* Label1;
    QTimer* Timer1;
    // The main window it opened, once the timer fired.
    frmMain* mainWindow() const { return opened; }

private:
    QStringList arguments;
    frmMain* opened = nullptr;
};
