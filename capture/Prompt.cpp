#include "capture/Prompt.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QPointer>
#include <cstdio>
#include <optional>

namespace {
std::optional<MessageBox::Button> nextAnswer;
std::function<MessageBox::Button(const MessageBox::Shown&)> responder;
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
    } else if (responder) {
        answer = responder({icon, title, text, buttons, QMessageBox::NoButton});
    } else if (inTestMode) {
        answer = firstButton(buttons);
    } else if (headless()) {
        // Offscreen nobody can answer a modal box; say it on stderr and go on safely.
        answer = safestButton(buttons);
        report(title, text);
    } else {
        // On the heap: a shut-down while it is open may free its parent, and
        // with it the box.
        QPointer<QMessageBox> box = new QMessageBox(icon, title, text, buttons, parent);
        answer = static_cast<Button>(box->exec());
        delete box.data();
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

void MessageBox::report(const QString& title, const QString& text)
{
    if (!headless() || inTestMode)
        return;
    std::fprintf(stderr, "%s\n", printableLine(title, text).toLocal8Bit().constData());
    std::fflush(stderr);
}

QString MessageBox::printableLine(const QString& title, const QString& text)
{
    QString line = title + QLatin1String(": ");
    bool lineBreak = false;
    for (const QChar c : text) {
        if (c == u'\r' || c == u'\n') {
            lineBreak = true;
            continue;
        }
        if (c == u'\t') {
            line += u' ';
            continue;
        }
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            continue;
        if (lineBreak && !line.endsWith(u' '))
            line += u' ';
        lineBreak = false;
        line += c;
    }
    return line;
}

void MessageBox::setResponder(std::function<Button(const Shown&)> r) { responder = std::move(r); }

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
