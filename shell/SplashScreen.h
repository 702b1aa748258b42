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
    // A start-up step's status text or bar value, painted before it returns:
    // the step that follows may keep the event loop busy (a slow camera).
    void showStatus(const QString& text);
    void showProgress(int percent);
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
    // What a paint put on the screen.
    void painted(const QString& status, int percent);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void paintNow();
    QFrame* m_track = nullptr;
    int m_percent = 0;
};
