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

    // Sets the progress bar to `percent` per cent.
    void setProgress(int percent);
    int barPercent() const { return m_percent; }

    QFrame* progressBar = nullptr; // the bar
    QLabel* statusLabel = nullptr; // status text
    QLabel* versionLabel = nullptr;
    QLabel* platformLabel = nullptr;
    QTimer* loadDelay = nullptr; // one shot: time to load the main window
    void onLoadDelay();

signals:
    // The splash has been seen long enough: the main window may load.
    void loadDue();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QFrame* m_track = nullptr;
    int m_percent = 0;
};
