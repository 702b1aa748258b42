#include "frmMain.h"

#include "Capture.h"
#include "Prompt.h"
#include "basFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>

using reel::px;

namespace {
const QString GoCaption = QStringLiteral("Go make movie");
const QString StopCaption = QStringLiteral("STOP!");

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(px(left), px(top), px(width), px(height));
}
} // namespace

frmMain::frmMain(const QStringList& arguments, QWidget* parent)
    : QWidget(parent), programFolder(QCoreApplication::applicationDirPath())
{
    setWindowTitle(QStringLiteral("Reel Smith"));
    launcher = [](const QString& folder, const QString& program) {
        QString error;
        const bool ok = reel::startProgram(folder, program, &error);
        if (!ok)
            qWarning("%s", qPrintable(error));
        return ok;
    };

    Cap = new Capture(this);

    // Option frames first: the preview frame lies above them and hides them.
    fraVideo = new QGroupBox(QStringLiteral("Video Options"), this);
    cmdCompression = new QPushButton(QStringLiteral("Video Compression"), fraVideo);
    cmdFormat = new QPushButton(QStringLiteral("Video format"), fraVideo);
    fraSound = new QGroupBox(QStringLiteral("Sound Options"), this);
    cmdAudio = new QPushButton(QStringLiteral("Audio format"), fraSound);
    chkSound = new QCheckBox(QStringLiteral("Capture sound"), fraSound);
    chkSound->setChecked(true);
    fraStorage = new QGroupBox(QStringLiteral("Storage options"), this);
    txtFile = new QLineEdit(QDir(startFolder()).filePath(QStringLiteral("Movie.avi")), fraStorage);
    cmdBrowse = new QPushButton(QStringLiteral("Browse"), fraStorage);

    fraPreview = new QGroupBox(QStringLiteral("Preview"), this);
    fraPreview->setAutoFillBackground(true);
    Cap->previewWidget()->setParent(fraPreview);

    picStatus = new QLabel(this);
    picStatus->setFrameShape(QFrame::StyledPanel);
    picStatus->setFrameShadow(QFrame::Sunken);
    picStatus->setAutoFillBackground(true);
    picStatus->setBackgroundRole(QPalette::Base);
    picStatus->setIndent(4);

    cmdOptions = new QPushButton(QStringLiteral("Options"), this);
    cmdGo = new QPushButton(GoCaption, this);
    cmdClose = new QPushButton(QStringLiteral("Close"), this);

    connect(cmdOptions, &QPushButton::clicked, this, &frmMain::cmdOptions_Click);
    connect(cmdGo, &QPushButton::clicked, this, &frmMain::cmdGo_Click);
    connect(cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(cmdCompression, &QPushButton::clicked, this, &frmMain::cmdCompression_Click);
    connect(cmdFormat, &QPushButton::clicked, this, &frmMain::cmdFormat_Click);
    connect(cmdAudio, &QPushButton::clicked, this, &frmMain::cmdAudio_Click);
    connect(chkSound, &QCheckBox::clicked, this, &frmMain::chkSound_Click);
    connect(cmdBrowse, &QPushButton::clicked, this, &frmMain::cmdBrowse_Click);

    connect(Cap, &Capture::statusChanged, picStatus, [this](const QString& text) {
        picStatus->clear();
        picStatus->setText(text);
    });
    connect(Cap, &Capture::errorOccurred, this, [this](int number, const QString& description) {
        if (number == Capture::RecordingFailed && !starting)
            failedMidway = description;
        else if (!starting)
            picStatus->setText(QStringLiteral("Error: ") + description);
    });
    // Queued: the component is still tidying up when it reports.
    connect(Cap, &Capture::recordingFinished, this, &frmMain::recordingEnded, Qt::QueuedConnection);

    // Quitting without closing (session end, a signal) must still finish the file.
    connect(qApp, &QCoreApplication::aboutToQuit, Cap, [this] { Cap->disconnectDriver(); });

    // Load.
    restart = reel::isRestartCommandLine(arguments);
    Cap->setCaptureAudio(true);
    Cap->setPreview(true);
    Cap->setDriverIndex(0); // the component's default device
    fitWindow();
}

frmMain::~frmMain() = default;

QString frmMain::startFolder()
{
    const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    if (!videos.isEmpty() && QFileInfo(videos).isDir())
        return videos;
    return QDir::homePath();
}

void frmMain::setProgramFolder(const QString& folder) { programFolder = folder; }

void frmMain::setLauncher(Launcher l) { launcher = std::move(l); }

void frmMain::fitWindow()
{
    const int controlWidth = Cap->width() * reel::TwipsPerPixel;
    const int controlHeight = Cap->height() * reel::TwipsPerPixel;
    fitted = reel::fitToControl(reel::Layout{}, controlWidth, controlHeight);
    const reel::Layout& l = fitted;
    // The layout counts caption and borders in the window size; Qt sizes the inside.
    setFixedSize(px(l.windowWidth - reel::ChromeWidth), px(l.windowHeight - reel::ChromeHeight));

    const int frameLeft = 120, frameTop = 120;
    place(fraPreview, frameLeft, frameTop, l.frameWidth, l.frameHeight);
    const int shownWidth = qMax(controlWidth, reel::DesignedControlWidth);
    const int shownHeight = qMax(controlHeight, reel::DesignedControlHeight);
    Cap->setDisplayRect(QRect(px(85), px(200), px(shownWidth), px(shownHeight)));

    // The option frames share the preview frame's place.
    const int inner = l.frameWidth;
    place(fraVideo, frameLeft, frameTop, inner, 855);
    place(cmdCompression, 120, 330, 2055, 375);
    place(cmdFormat, 2295, 330, 1455, 375);
    place(fraSound, frameLeft, frameTop + 975, inner, 855);
    place(cmdAudio, 120, 330, 1455, 375);
    place(chkSound, 1815, 330, 2000, 375);
    place(fraStorage, frameLeft, frameTop + 1950, inner, 855);
    place(txtFile, 120, 330, inner - 120 - 1095 - 240, 375);
    place(cmdBrowse, inner - 1095 - 120, 330, 1095, 375);

    place(cmdOptions, l.optionsLeft, l.buttonTop, l.optionsWidth, l.buttonHeight);
    place(cmdGo, l.goLeft, l.buttonTop, l.goWidth, l.buttonHeight);
    place(cmdClose, l.closeLeft, l.buttonTop, l.closeWidth, l.buttonHeight);
    place(picStatus, frameLeft, l.buttonTop + l.buttonHeight + 100,
          l.windowWidth - reel::ChromeWidth - 2 * frameLeft, l.statusHeight);
}

void frmMain::cmdOptions_Click()
{
    if (cmdOptions->text() == QLatin1String("Options")) {
        fraPreview->hide();
        cmdOptions->setText(QStringLiteral("OK"));
    } else {
        fraPreview->show();
        cmdOptions->setText(QStringLiteral("Options"));
    }
}

void frmMain::chkSound_Click()
{
    const bool on = chkSound->isChecked();
    Cap->setCaptureAudio(on);
    cmdAudio->setEnabled(on);
}

void frmMain::cmdCompression_Click() { Cap->showVideoCompressionDialog(this); }

void frmMain::cmdAudio_Click() { Cap->showAudioFormatDialog(this); }

void frmMain::cmdFormat_Click()
{
    if (Cap->showVideoFormatDialog(this))
        fitWindow();
}

void frmMain::cmdBrowse_Click()
{
    const QString chosen = FileDialog::getSaveFileName(
        this, QStringLiteral("Save movie as..."), QDir(startFolder()).filePath(QStringLiteral("Movie.avi")),
        QStringLiteral("*.avi"));
    // Cancel hands back nothing (or the bare preset name): the file box stays.
    if (chosen.isEmpty() || chosen.toLower() == QLatin1String("movie.avi"))
        return;
    txtFile->setText(chosen);
}

void frmMain::cmdGo_Click()
{
    if (cmdGo->text() == StopCaption) {
        Cap->stopRecording();
        cmdGo->setText(GoCaption);
        return;
    }
    const QString path = txtFile->text();
    if (FileExists(path)) {
        const auto answer = MessageBox::information(
            this, QStringLiteral("Vantora"),
            QStringLiteral("File ") + path + QStringLiteral(" already exist. Do you want to overwrite this file?"),
            QMessageBox::Yes | QMessageBox::No);
        if (answer != QMessageBox::Yes)
            return;
    }
    cmdGo->setText(StopCaption);
    Cap->setCaptureFile(path);
    failedMidway.clear();
    starting = true;
    while (!Cap->startRecording()) {
        const auto answer = MessageBox::critical(this, QStringLiteral("Error"),
                                                 QStringLiteral("Error: ") + Cap->lastError(),
                                                 QMessageBox::Retry | QMessageBox::Cancel);
        if (answer != QMessageBox::Retry)
            break;
    }
    starting = false;
}

void frmMain::recordingEnded()
{
    cmdGo->setText(GoCaption);
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
        cmdGo_Click();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (Cap->isRecording()) {
        // Finish the file first; the window closes when it is complete.
        closeAfterRecording = true;
        Cap->stopRecording();
        event->ignore();
        return;
    }
    Cap->disconnectDriver();
    event->accept();
    if (restart && launcher)
        launcher(programFolder, QStringLiteral("vantora"));
    restart = false; // once
}
