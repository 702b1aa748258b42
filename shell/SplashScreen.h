#pragma once
// The splash window: start-up progress while the main window loads.

#include <QWidget>

class QFrame;
class QLabel;
class QTimer;
class SplashScreen;

SplashScreen* splashScreen(); // the loaded one, or null
SplashScreen* loadSplash();
void unloadSplash();

class SplashScreen : public QWidget
{
    Q_OBJECT
public:
    explicit SplashScreen(QWidget* parent = nullptr);
    ~SplashScreen() override;

    // Sets the progress bar to `breed` per cent.
    void bar(int breed);
    int barPercent() const { return m_percent; }

    QFrame* Shape1 = nullptr; // the bar
    QLabel* Label2 = nullptr; // status text
    QLabel* lblVersion = nullptr;
    QLabel* lblPlatform = nullptr;
    QTimer* Timer1 = nullptr; // one shot: loads the main window
    void Timer1_Timer();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame* m_track = nullptr;
    int m_percent = 0;
};
