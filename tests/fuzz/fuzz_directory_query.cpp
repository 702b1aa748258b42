// The query of a request to the directory as any client may send it: decoded
// into values, answered by the service, and written to the log with secrets
// hidden. The first byte picks the page, the rest is the query.

#include "DirectoryFixture.h"
#include "FuzzCheck.h"
#include "directory/HttpFrontend.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzfixture::application();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static fuzzfixture::Directory directory;
    if (size < 1)
        return 0;
    static const char* const pages[] = {"logon", "logoff", "register", "askchat"};
    const int page = bytes[0] % 4;
    const std::string query(reinterpret_cast<const char*>(bytes + 1), size - 1);

    const QString logged =
        directory::HttpFrontend::loggableTarget(std::string("/client_v3/") + pages[page] + ".php?" + query);
    // One printable line of bounded length, whatever came in.
    FUZZ_CHECK(logged.size() <= 406);
    for (QChar c : logged)
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() < 0x7f);

    const directory::Params params = directory::Params::fromQuery(query);
    const QString from = QStringLiteral("198.51.100.7");
    directory::Reply reply;
    switch (page) {
    case 0:
        reply = directory.service.logon(params, from);
        break;
    case 1:
        reply = directory.service.logoff(params, from);
        break;
    case 2:
        reply = directory.service.registerMember(params, from);
        break;
    default:
        reply = directory.service.askChat(params, from);
        break;
    }
    FUZZ_CHECK(reply.status >= 200 && reply.status < 600);
    // A redirect's target goes into a header line: nothing may end it early.
    FUZZ_CHECK(!reply.location.contains('\r') && !reply.location.contains('\n'));
    return 0;
}
