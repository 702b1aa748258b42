// A recorder window that records into argv[1] until it is killed: the test of
// a recorder that dies mid-take runs it. argv[2], when given, lowers the
// movie block limit so the take spans several blocks. Prints each status line.
#include "capture/AviWriter.h"
#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "reelsmith/RecorderWindow.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    MessageBox::setTestMode(true);
    if (argc < 2)
        return 2;
    if (argc > 2)
        AviWriter::setBlockLimit(QByteArray(argv[2]).toLongLong());
    RecorderWindow window({QStringLiteral("reelsmith")});
    QObject::connect(window.capture, &Capture::statusChanged, [](const QString& text) {
        std::printf("%s\n", qPrintable(text));
        std::fflush(stdout);
    });
    window.fileEdit->setText(QString::fromLocal8Bit(argv[1]));
    window.recordButton->click();
    if (!window.capture->isRecording())
        return 1;
    return app.exec();
}
