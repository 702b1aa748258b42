#include "tests/support/TestEnvironment.h"

#include "capture/Prompt.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <glib.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

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
    // The product's default directory unless a test names its own.
    qunsetenv("VANTORA_SERVER");
    rootDir = new QTemporaryDir(QDir::tempPath() + QLatin1String("/vantora-test-XXXXXX"));
    const QString r = rootDir->path();
    for (const char* sub : {"config", "runtime", "tmp", "home"})
        QDir(r).mkpath(QLatin1String(sub));
    QFile::setPermissions(r + QLatin1String("/runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // Programs that look past the XDG folders (QDir::homePath, ~) stay inside too.
    qputenv("HOME", (r + QLatin1String("/home")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (r + QLatin1String("/config")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", (r + QLatin1String("/runtime")).toLocal8Bit());
    qputenv("TMPDIR", (r + QLatin1String("/tmp")).toLocal8Bit());
    MessageBox::setTestMode(true);
    // GLib ends idle pool threads (GStreamer's streaming threads among them)
    // on timers; one ending while the leak checker holds every thread at exit
    // crashes the checker. Here idle threads wait until the process ends.
    g_thread_pool_set_max_unused_threads(-1);
    g_thread_pool_set_max_idle_time(0);
    std::atexit([] { delete rootDir; });
}

QString root() { return rootDir ? rootDir->path() : QDir::tempPath(); }

QString binDir()
{
    const QByteArray env = qgetenv("VANTORA_BIN_DIR");
    return env.isEmpty() ? QString() : QString::fromLocal8Bit(env);
}

namespace {
constexpr quint32 overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
}

PermissionsEnforced::PermissionsEnforced()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0 || !(data[0].effective & overrides))
        return;
    m_effective[0] = data[0].effective;
    m_effective[1] = data[1].effective;
    data[0].effective &= ~overrides;
    m_dropped = ::syscall(SYS_capset, &header, data) == 0;
}

PermissionsEnforced::~PermissionsEnforced()
{
    if (!m_dropped)
        return;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (::syscall(SYS_capget, &header, data) != 0)
        return;
    data[0].effective = m_effective[0];
    data[1].effective = m_effective[1];
    ::syscall(SYS_capset, &header, data);
}

} // namespace testenv
