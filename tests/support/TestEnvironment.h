#pragma once
// Keeps tests off the user's real settings and temporary files: every test
// program gets fresh XDG config, runtime and temporary directories, test mode
// for every prompt, and a fixed locale and time zone.

#include <QApplication>
#include <QString>
#include <QTest>

namespace testenv {
void init();
// The private root for this test program's files.
QString root();
// Folder of the built programs (vantora, reelsmith, vantora-directory).
QString binDir();

// While it lives, file permissions hold for this thread even when the tests
// run as root (it drops the capabilities that override them), so cases about
// unreadable files and read-only folders run for every user.
class PermissionsEnforced
{
public:
    PermissionsEnforced();
    ~PermissionsEnforced();
    PermissionsEnforced(const PermissionsEnforced&) = delete;
    PermissionsEnforced& operator=(const PermissionsEnforced&) = delete;

private:
    bool m_dropped = false;
    quint32 m_effective[2] = {};
};
} // namespace testenv

// QTEST_MAIN with the environment above set before anything else runs.
#define VANTORA_TEST_MAIN(TestObject)                                                                        \
    int main(int argc, char** argv)                                                                          \
    {                                                                                                        \
        testenv::init();                                                                                     \
        QApplication app(argc, argv);                                                                        \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                             \
        TestObject tc;                                                                                       \
        QTEST_SET_MAIN_SOURCE_PATH                                                                           \
        return QTest::qExec(&tc, argc, argv);                                                                \
    }
