#include "capture/Prompt.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <cstdio>
#include <optional>

namespace {
std::optional<MessageBox::Button> nextAnswer;
bool inTestMode = false;
QList<MessageBox::Shown> shown;

std::optional<QString> nextFileName;
QString lastFileCaption;
QString lastFilePath;

MessageBox::Button firstButton(MessageBox::Buttons buttons)
{
    for (unsigned bit = QMessageBox::FirstButton; bit <= QMessageBox::LastButton; bit <<= 1) {
        if (buttons.testFlag(static_cast<QMessageBox::StandardButton>(bit)))
            return static_cast<QMessageBox::StandardButton>(bit);
    }
    return QMessageBox::NoButton;
}

// The answer that changes and loses nothing, for a box nobody can see.
MessageBox::Button safestButton(MessageBox::Buttons buttons)
{
    for (auto b : {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Close}) {
        if (buttons.testFlag(b))
            return b;
    }
    return firstButton(buttons);
}

bool headless() { return QGuiApplication::platformName() == QLatin1String("offscreen"); }
} // namespace

MessageBox::Button MessageBox::show(QMessageBox::Icon icon, QWidget* parent, const QString& title,
                                    const QString& text, Buttons buttons)
{
    Button answer;
    if (nextAnswer) {
        answer = *nextAnswer;
        nextAnswer.reset();
    } else if (inTestMode) {
        answer = firstButton(buttons);
    } else if (headless()) {
        // Offscreen nobody can answer a modal box; say it on stderr and go on safely.
        answer = safestButton(buttons);
        std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(QString(text).replace(u'\n', u' ')));
        std::fflush(stderr);
    } else {
        QMessageBox box(icon, title, text, buttons, parent);
        answer = static_cast<Button>(box.exec());
    }
    shown.append({icon, title, text, buttons, answer});
    return answer;
}

MessageBox::Button MessageBox::information(QWidget* p, const QString& t, const QString& x, Buttons b)
{
    return show(QMessageBox::Information, p, t, x, b);
}
MessageBox::Button MessageBox::question(QWidget* p, const QString& t, const QString& x, Buttons b)
{
    return show(QMessageBox::Question, p, t, x, b);
}
MessageBox::Button MessageBox::warning(QWidget* p, const QString& t, const QString& x, Buttons b)
{
    return show(QMessageBox::Warning, p, t, x, b);
}
MessageBox::Button MessageBox::critical(QWidget* p, const QString& t, const QString& x, Buttons b)
{
    return show(QMessageBox::Critical, p, t, x, b);
}
MessageBox::Button MessageBox::plain(QWidget* p, const QString& t, const QString& x, Buttons b)
{
    return show(QMessageBox::NoIcon, p, t, x, b);
}

void MessageBox::setNextAnswer(Button answer) { nextAnswer = answer; }
void MessageBox::setTestMode(bool on) { inTestMode = on; }
bool MessageBox::testMode() { return inTestMode; }
const QList<MessageBox::Shown>& MessageBox::history() { return shown; }
void MessageBox::clearHistory() { shown.clear(); }

QString FileDialog::getSaveFileName(QWidget* parent, const QString& caption, const QString& path,
                                    const QString& filter)
{
    lastFileCaption = caption;
    lastFilePath = path;
    if (nextFileName) {
        QString name = *nextFileName;
        nextFileName.reset();
        return name;
    }
    if (MessageBox::testMode() || headless())
        return {};
    return QFileDialog::getSaveFileName(parent, caption, path, filter);
}

QString FileDialog::getExistingDirectory(QWidget* parent, const QString& caption, const QString& start)
{
    lastFileCaption = caption;
    lastFilePath = start;
    if (nextFileName) {
        QString name = *nextFileName;
        nextFileName.reset();
        return name;
    }
    if (MessageBox::testMode() || headless())
        return {};
    return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
}

void FileDialog::setNextFileName(const QString& name) { nextFileName = name; }
QString FileDialog::lastCaption() { return lastFileCaption; }
QString FileDialog::lastPath() { return lastFilePath; }
