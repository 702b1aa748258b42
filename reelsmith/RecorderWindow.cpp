#include "reelsmith/RecorderWindow.h"

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "capture/SiblingProgram.h"
#include "reelsmith/FileHelpers.h"
#include "reelsmith/TakeMarker.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTimer>

using reel::px;

namespace {
const QString GoCaption = QStringLiteral("Go make movie");
const QString StopCaption = QStringLiteral("STOP!");

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}
} // namespace

RecorderWindow::RecorderWindow(const QStringList& arguments, QWidget* parent)
    : QWidget(parent), programFolder(QCoreApplication::applicationDirPath()),
      programFolders(siblingProgramFolders())
{
    setWindowTitle(QStringLiteral("Reel Smith"));
    launcher = [this](const QString& folder, const QString& program) {
        // Found as vantora finds reelsmith: beside this program, in the
        // install folder, then on PATH.
        const QFileInfo found(findSiblingProgram(program, programFolders));
        QString error;
        const bool ok = found.exists() ? reel::startProgram(found.absolutePath(), found.fileName(), &error)
                                       : reel::startProgram(folder, program, &error);
        if (!ok) // the window is gone: say it in a box of its own
            MessageBox::warning(nullptr, QStringLiteral("Reel Smith"), error);
        return ok;
    };

    capture = new Capture(this);

    // Option frames first: the preview frame lies above them and hides them.
    videoOptionsBox = new QGroupBox(QStringLiteral("Video Options"), this);
    compressionButton = new QPushButton(QStringLiteral("Video Compression"), videoOptionsBox);
    videoFormatButton = new QPushButton(QStringLiteral("Video format"), videoOptionsBox);
    soundOptionsBox = new QGroupBox(QStringLiteral("Sound Options"), this);
    audioFormatButton = new QPushButton(QStringLiteral("Audio format"), soundOptionsBox);
    soundSwitch = new QCheckBox(QStringLiteral("Capture sound"), soundOptionsBox);
    soundSwitch->setChecked(true);
    storageBox = new QGroupBox(QStringLiteral("Storage options"), this);
    fileEdit = new QLineEdit(QDir(startFolder()).filePath(QStringLiteral("Movie.avi")), storageBox);
    browseButton = new QPushButton(QStringLiteral("Browse"), storageBox);

    previewFrame = new QGroupBox(QStringLiteral("Preview"), this);
    previewFrame->setAutoFillBackground(true);
    capture->previewWidget()->setParent(previewFrame);

    statusLabel = new QLabel(this);
    statusLabel->setFrameShape(QFrame::StyledPanel);
    statusLabel->setFrameShadow(QFrame::Sunken);
    statusLabel->setAutoFillBackground(true);
    statusLabel->setBackgroundRole(QPalette::Base);
    statusLabel->setIndent(4);

    optionsButton = new QPushButton(QStringLiteral("Options"), this);
    recordButton = new QPushButton(GoCaption, this);
    closeButton = new QPushButton(QStringLiteral("Close"), this);

    connect(optionsButton, &QPushButton::clicked, this, &RecorderWindow::toggleOptions);
    connect(recordButton, &QPushButton::clicked, this, &RecorderWindow::recordOrStop);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(compressionButton, &QPushButton::clicked, this, &RecorderWindow::chooseCompression);
    connect(videoFormatButton, &QPushButton::clicked, this, &RecorderWindow::chooseVideoFormat);
    connect(audioFormatButton, &QPushButton::clicked, this, &RecorderWindow::chooseAudioFormat);
    connect(soundSwitch, &QCheckBox::clicked, this, &RecorderWindow::onSoundSwitchClicked);
    connect(browseButton, &QPushButton::clicked, this, &RecorderWindow::browse);

    connect(capture, &Capture::statusChanged, statusLabel, [this](const QString& text) {
        statusLabel->clear();
        QString shown = text;
        bool warn = false;
        if (capture->isRecording()) {
            // While recording: what the take holds and what room is left.
            const QString file = capture->captureFile();
            const qint64 bytes = QFileInfo(file).size();
            const qint64 elapsed = capture->recordingStats().elapsedMs;
            const double rate = elapsed > 0 ? bytes * 1000.0 / elapsed : 0;
            const qint64 free = QStorageInfo(QFileInfo(file).absolutePath()).bytesAvailable();
            shown += QStringLiteral(" - ") + reel::takeSpaceText(bytes, free, rate);
            warn = reel::diskAlmostFull(free, rate);
        }
        statusLabel->setForegroundRole(warn ? QPalette::BrightText : QPalette::WindowText);
        statusLabel->setBackgroundRole(warn ? QPalette::Highlight : QPalette::Base);
        statusLabel->setText(shown);
    });
    connect(capture, &Capture::errorOccurred, this, [this](int number, const QString& description) {
        if (number == Capture::RecordingFailed && !starting)
            failedMidway = description;
        else if (!starting)
            statusLabel->setText(QStringLiteral("Error: ") + description);
    });
    // Queued: the component is still tidying up when it reports.
    connect(capture, &Capture::recordingFinished, this, &RecorderWindow::recordingEnded,
            Qt::QueuedConnection);

    // Quitting without closing (session end, a signal) must still finish the file.
    connect(qApp, &QCoreApplication::aboutToQuit, capture, [this] {
        capture->disconnectDriver();
        reel::TakeMarker::end();
    });

    // As the window opens: sound on, the default device, the window fitted to it.
    restart = reel::isRestartCommandLine(arguments);
    capture->setCaptureAudio(true);
    capture->setPreview(true);
    capture->setDriverIndex(0); // the component's default device
    fitWindow();
    // Once the window is up: takes a killed recorder left unfinished.
    QTimer::singleShot(0, this, [this] { repairInterruptedTakes(); });
}

void RecorderWindow::repairInterruptedTakes(const QString& onlyPath)
{
    for (const reel::RepairedTake& take : reel::TakeMarker::repairLeftBehind(onlyPath)) {
        if (take.ok)
            MessageBox::information(this, QStringLiteral("Reel Smith"), reel::repairedTakeMessage(take));
        else
            MessageBox::warning(this, QStringLiteral("Reel Smith"), reel::repairedTakeMessage(take));
    }
}

RecorderWindow::~RecorderWindow()
{
    // A take still running is finished here, before the note of it goes.
    capture->blockSignals(true);
    capture->disconnectDriver();
    reel::TakeMarker::end();
}

QString RecorderWindow::startFolder()
{
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QFileInfo(videos).isDir())
        return videos;
    return QDir::homePath();
}

void RecorderWindow::setProgramFolder(const QString& folder)
{
    programFolder = folder;
    programFolders = {folder};
}

void RecorderWindow::setLauncher(Launcher l) { launcher = std::move(l); }

void RecorderWindow::fitWindow()
{
    // The designed arithmetic where it fits the screen; a smaller preview where not.
    const QScreen* shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize available = shownOn ? shownOn->availableGeometry().size() : QSize(100000, 100000);
    const reel::ControlSize control = reel::fitControlToScreen(
        {capture->width() * reel::TwipsPerPixel, capture->height() * reel::TwipsPerPixel},
        {available.width() * reel::TwipsPerPixel, available.height() * reel::TwipsPerPixel});
    const int controlWidth = control.width;
    const int controlHeight = control.height;
    fitted = reel::fitToControl(reel::Layout{}, controlWidth, controlHeight);
    const reel::Layout& l = fitted;
    // The layout counts caption and borders in the window size; Qt sizes the inside.
    setFixedSize(px(l.windowWidth - reel::ChromeWidth), px(l.windowHeight - reel::ChromeHeight));

    const int frameLeft = 120, frameTop = 120;
    place(previewFrame, frameLeft, frameTop, l.frameWidth, l.frameHeight);
    const int shownWidth = qMax(controlWidth, reel::DesignedControlWidth);
    const int shownHeight = qMax(controlHeight, reel::DesignedControlHeight);
    capture->setDisplayRect(QRect(px(85), px(200), px(shownWidth), px(shownHeight)));

    // The option frames share the preview frame's place.
    const int inner = l.frameWidth;
    place(videoOptionsBox, frameLeft, frameTop, inner, 855);
    place(compressionButton, 120, 330, 2055, 375);
    place(videoFormatButton, 2295, 330, 1455, 375);
    place(soundOptionsBox, frameLeft, frameTop + 975, inner, 855);
    place(audioFormatButton, 120, 330, 1455, 375);
    place(soundSwitch, 1815, 330, 2000, 375);
    place(storageBox, frameLeft, frameTop + 1950, inner, 855);
    place(fileEdit, 120, 330, inner - 120 - 1095 - 240, 375);
    place(browseButton, inner - 1095 - 120, 330, 1095, 375);

    place(optionsButton, l.optionsLeft, l.buttonTop, l.optionsWidth, l.buttonHeight);
    place(recordButton, l.goLeft, l.buttonTop, l.goWidth, l.buttonHeight);
    place(closeButton, l.closeLeft, l.buttonTop, l.closeWidth, l.buttonHeight);
    place(statusLabel, frameLeft, l.buttonTop + l.buttonHeight + 100,
          l.windowWidth - reel::ChromeWidth - 2 * frameLeft, l.statusHeight);
}

void RecorderWindow::toggleOptions()
{
    if (optionsButton->text() == QLatin1String("Options")) {
        previewFrame->hide();
        optionsButton->setText(QStringLiteral("OK"));
    } else {
        previewFrame->show();
        optionsButton->setText(QStringLiteral("Options"));
    }
}

void RecorderWindow::onSoundSwitchClicked()
{
    const bool on = soundSwitch->isChecked();
    capture->setCaptureAudio(on);
    audioFormatButton->setEnabled(on);
}

void RecorderWindow::chooseCompression() { capture->showVideoCompressionDialog(this); }

void RecorderWindow::chooseAudioFormat() { capture->showAudioFormatDialog(this); }

void RecorderWindow::chooseVideoFormat()
{
    if (capture->showVideoFormatDialog(this))
        fitWindow();
}

void RecorderWindow::browse()
{
    const QString chosen = FileDialog::getSaveFileName(
        this, QStringLiteral("Save movie as..."), QDir(startFolder()).filePath(QStringLiteral("Movie.avi")),
        QStringLiteral("*.avi"));
    // Cancel hands back nothing (or the bare preset name): the file box stays.
    if (chosen.isEmpty() || chosen.toLower() == QLatin1String("movie.avi"))
        return;
    fileEdit->setText(chosen);
    repairInterruptedTakes(chosen);
}

void RecorderWindow::recordOrStop()
{
    if (recordButton->text() == StopCaption) {
        capture->stopRecording();
        recordButton->setText(GoCaption);
        return;
    }
    const QString path = reel::movieFilePath(fileEdit->text(), startFolder());
    if (!path.isEmpty())
        fileEdit->setText(path);
    if (reel::fileExists(path)) {
        const auto answer =
            MessageBox::information(this, QStringLiteral("Vantora"),
                                    QStringLiteral("File ") + path +
                                        QStringLiteral(" already exist. Do you want to overwrite this file?"),
                                    QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    recordButton->setText(StopCaption);
    capture->setCaptureFile(path);
    failedMidway.clear();
    starting = true;
    while (!capture->startRecording()) {
        const auto answer = MessageBox::critical(this, QStringLiteral("Error"),
                                                 QStringLiteral("Error: ") + capture->lastError(),
                                                 QMessageBox::Retry | QMessageBox::Cancel);
        if (answer != QMessageBox::Retry)
            break;
    }
    starting = false;
    if (capture->isRecording())
        reel::TakeMarker::begin(path);
}

void RecorderWindow::recordingEnded()
{
    // The file is complete (or repaired): nothing for the next start to mend.
    reel::TakeMarker::end();
    recordButton->setText(GoCaption);
    // A format chosen during the take applies now: the window follows it.
    fitWindow();
    if (closeAfterRecording) {
        close();
        return;
    }
    if (failedMidway.isEmpty())
        return;
    // What was written is kept; Retry records again (asking before overwriting it).
    const QString why = failedMidway;
    failedMidway.clear();
    const auto answer = MessageBox::critical(this, QStringLiteral("Error"), QStringLiteral("Error: ") + why,
                                             QMessageBox::Retry | QMessageBox::Cancel);
    if (answer == QMessageBox::Retry)
        recordOrStop();
}

void RecorderWindow::closeEvent(QCloseEvent* event)
{
    if (capture->isRecording()) {
        // Finish the file first; the window closes when it is complete.
        closeAfterRecording = true;
        capture->stopRecording();
        event->ignore();
        return;
    }
    capture->disconnectDriver();
    event->accept();
    if (restart && launcher)
        launcher(programFolder, QStringLiteral("vantora"));
    restart = false; // once
}
