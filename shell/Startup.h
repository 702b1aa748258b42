#pragma once
// The ordered start-up steps. They are logic only: what they need of the
// windows goes through StartupHost, which the main window implements and
// tests record.

#include <QString>
#include <QStringList>

// What the start-up steps ask of the windows.
class StartupHost
{
public:
    virtual ~StartupHost() = default;
    virtual void status(const QString& text) = 0;
    virtual void bar(int percent) = 0;
    // Another copy of the program runs for this user.
    virtual bool anotherCopyRunning() = 0;
    // Asks whether to start another copy; true for Yes.
    virtual bool askStartAnotherCopy(const QString& title, const QString& text) = 0;
    // No was answered: unload the main window, load nothing more.
    virtual void abandon() = 0;
    virtual void setTitle(const QString& title) = 0;
    virtual void changeToProgramFolder() = 0;
    virtual void loadTray() = 0;
    virtual void selectDriver(int index) = 0;
    virtual void enableUpdateTimer() = 0;
    // Grabs a frame, switches preview on and tells whether the driver is connected.
    virtual bool connectVideo() = 0;
    virtual void showDriverFailure() = 0;
    virtual void setEngineState(const QString& text) = 0;
    virtual void loadEngine() = 0;
    virtual void showActiveConnections() = 0;
    virtual void showMainUnloadSplash() = 0;
    virtual void fillLogin(const QStringList& domains, const QString& user, const QString& password,
                           const QString& domain) = 0;
    virtual void setOnlineSwitch(int value) = 0;
};

// The start-up steps in their fixed order, one at a time, so the caller can
// let the window system paint and deliver events between them. Keeps a record
// of every status text ("status <text>") and bar value ("bar <n>") it sent.
class StartupSequence
{
public:
    enum class Progress { More, Done, Abandoned };
    // Runs the next step. Abandoned: the user chose not to start a second copy.
    Progress next(StartupHost& host);
    // Runs every step left at once; false when the user chose not to start a second copy.
    bool run(StartupHost& host);
    bool finished() const { return m_next > LastStep; }
    const QStringList& record() const { return m_record; }

    static constexpr int LastStep = 16;

private:
    void status(StartupHost& host, const QString& text);
    void bar(StartupHost& host, int percent);
    QStringList m_record;
    int m_next = 1;
};
