// Reel Smith: records the camera into an AVI file. Started by vantora with
// "/reload", it starts vantora again when it closes.
#include "frmSplash.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

// SIGTERM, SIGINT and SIGHUP end the program through the event loop, so a
// running recording is finished rather than cut off.
void quitOnSignals(QApplication& app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [notifier] {
        char c;
        [[maybe_unused]] const auto n = ::read(signalPipe[0], &c, 1);
        notifier->setEnabled(false);
        QApplication::quit();
    });
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaction(sig, &sa, nullptr);
}
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ReelSmith"));
    quitOnSignals(app);
    auto* splash = new frmSplash(app.arguments());
    splash->show();
    return app.exec();
}
