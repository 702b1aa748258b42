#include "tests/support/TestEnvironment.h"

#include "capture/Prompt.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>

namespace {
QTemporaryDir* rootDir = nullptr;
}

namespace testenv {

void init()
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    qputenv("LC_ALL", "C.UTF-8");
    rootDir = new QTemporaryDir(QDir::tempPath() + QLatin1String("/vantora-test-XXXXXX"));
    const QString r = rootDir->path();
    for (const char* sub : {"config", "runtime", "tmp", "home"})
        QDir(r).mkpath(QLatin1String(sub));
    QFile::setPermissions(r + QLatin1String("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", (r + QLatin1String("/config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (r + QLatin1String("/runtime")).toLocal8Bit());
    qputenv("TMPDIR", (r + QLatin1String("/tmp")).toLocal8Bit());
    MessageBox::setTestMode(true);
    std::atexit([] { delete rootDir; });
}

QString root() { return rootDir ? rootDir->path() : QDir::tempPath(); }

QString binDir()
{
    const QByteArray env = qgetenv("VANTORA_BIN_DIR");
    return env.isEmpty() ? QString() : QString::fromLocal8Bit(env);
}

} // namespace testenv
