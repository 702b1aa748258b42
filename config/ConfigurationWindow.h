#pragma once
// The configuration window: a bar of six entries, each opening one page in
// the window's client area, and "Close". Only one page is loaded at a time;
// switching pages or closing unloads the open one, and unloading is what
// saves it.

#include "shell/WindowRegistry.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>

class Capture;
class QLabel;
class QPushButton;
class QScrollArea;

class ConfigurationWindow : public QWidget
{
    Q_OBJECT
public:
    // The pages work on `capture`, the program's camera (may be null).
    explicit ConfigurationWindow(Capture* capture, QWidget* owner = nullptr);
    ~ConfigurationWindow() override;

    // The entry labels, in entry order ("Velora Settings" ... "Security").
    static QStringList entryTexts();

    // Unloads the open page (saving it), then loads page `page`. None leaves
    // the window without a page.
    void openPage(windows::ConfigPage page);
    windows::ConfigPage currentPage() const { return m_current; }
    QWidget* page() const { return m_page; }
    // Bold for entry n (1 to 6), normal for every other; 0 clears them all.
    void highlight(int entry);
    int highlighted() const;
    // "Close": the open page is unloaded, then the window.
    void closeWindow();

    QLabel* entryIcon(int entry) const { return m_icons.value(entry - 1); }
    QLabel* entryLabel(int entry) const { return m_labels.value(entry - 1); }
    QPushButton* closeButton = nullptr;

signals:
    // The window has closed through "Close" (not when unloaded at shut-down).
    void closedByUser();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void unloadPage();

    Capture* m_capture = nullptr;
    QList<QLabel*> m_icons;
    QList<QLabel*> m_labels;
    QList<QWidget*> m_panels;
    QScrollArea* m_area = nullptr;
    QPointer<QWidget> m_page;
    std::function<void()> m_unloadPage;
    windows::ConfigPage m_current = windows::ConfigPage::None;
    bool m_closing = false;
};

// The window while it is loaded.
ConfigurationWindow* loadedConfigurationWindow();
// Makes windows::openConfiguration open this window (owned by the main window,
// on the main window's camera) and shutting down unload it and the preview.
void registerConfigurationWindow();
