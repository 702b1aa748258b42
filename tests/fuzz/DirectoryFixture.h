#pragma once
// One directory service for a whole fuzz run: a member store in a temporary
// folder, the cheapest password hashing, a clock that stands still.

#include "FuzzCheck.h"
#include "directory/Clock.h"
#include "directory/DirectoryService.h"
#include "directory/MemberStore.h"

#include <QCoreApplication>
#include <QTemporaryDir>

namespace fuzzfixture {

struct Directory
{
    Directory() : store(dir.filePath(QStringLiteral("members.sqlite"))), service(store, clock, options())
    {
        FUZZ_CHECK(dir.isValid() && store.open());
    }
    static directory::DirectoryService::Options options()
    {
        directory::DirectoryService::Options o;
        o.hashLimits = directory::HashLimits::minimal();
        return o;
    }
    QTemporaryDir dir;
    directory::ManualClock clock;
    directory::MemberStore store;
    directory::DirectoryService service;
};

// Qt's SQL drivers are plugins, found through the application object.
inline QCoreApplication& application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace fuzzfixture
