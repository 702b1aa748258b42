#include "shell/Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>

namespace {
desktop::UrlOpener urlOpener;
desktop::ProgramEnd programEnd;
} // namespace

namespace desktop {

bool openDocument(const QUrl& url)
{
    if (urlOpener)
        return urlOpener(url);
    return QDesktopServices::openUrl(url);
}

void setUrlOpener(UrlOpener opener) { urlOpener = std::move(opener); }

void doEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void endProgram()
{
    if (programEnd)
        programEnd();
    else
        QCoreApplication::quit();
}

void setProgramEnd(ProgramEnd end) { programEnd = std::move(end); }

} // namespace desktop
