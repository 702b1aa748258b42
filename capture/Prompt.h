#pragma once
// Every modal message box, question and file chooser of both programs goes
// through here, so that tests can answer them and the programs show real ones.

#include <QList>
#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

class MessageBox
{
public:
    using Button = QMessageBox::StandardButton;
    using Buttons = QMessageBox::StandardButtons;

    struct Shown
    {
        QMessageBox::Icon icon;
        QString title;
        QString text;
        Buttons buttons;
        Button answer;
    };

    static Button information(QWidget* parent, const QString& title, const QString& text,
                              Buttons buttons = QMessageBox::Ok);
    static Button question(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = QMessageBox::Yes | QMessageBox::No);
    static Button warning(QWidget* parent, const QString& title, const QString& text,
                          Buttons buttons = QMessageBox::Ok);
    static Button critical(QWidget* parent, const QString& title, const QString& text,
                           Buttons buttons = QMessageBox::Ok);
    // A box without an icon.
    static Button plain(QWidget* parent, const QString& title, const QString& text,
                        Buttons buttons = QMessageBox::Ok);
    static Button show(QMessageBox::Icon icon, QWidget* parent, const QString& title, const QString& text,
                       Buttons buttons);

    // Offscreen (and not in test mode) prints "title: text" on stderr, as a
    // box nobody can see would be; elsewhere does nothing.
    static void report(const QString& title, const QString& text);
    // "title: text" as one terminal line: line breaks of any kind become one
    // space, other control characters (a peer's escape sequences) are dropped.
    static QString printableLine(const QString& title, const QString& text);

    // Test hooks. A queued answer is taken by the next box instead of showing it.
    // In test mode a box without a queued answer is not shown either: it
    // answers with its first button, so a forgotten answer never hangs a test.
    // Offscreen (no display) a box is not shown either: its text goes to stderr
    // and it takes the answer that changes nothing (No, Cancel, OK).
    // A responder, while set, answers every box in place of a user; it may
    // let events run meanwhile, as a box that stays open does.
    static void setResponder(std::function<Button(const Shown&)> responder);
    static void setNextAnswer(Button answer);
    static void setTestMode(bool on);
    static bool testMode();
    static const QList<Shown>& history();
    static void clearHistory();
};

class FileDialog
{
public:
    static QString getSaveFileName(QWidget* parent, const QString& caption, const QString& path,
                                   const QString& filter);
    // Empty when cancelled.
    static QString getExistingDirectory(QWidget* parent, const QString& caption, const QString& start = {});

    // Test hooks: the next chooser returns this (empty = cancelled) without showing.
    static void setNextFileName(const QString& name);
    static QString lastCaption();
    static QString lastPath();
};
