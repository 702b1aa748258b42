#pragma once
// What the windows ask of the desktop beyond themselves: opening an address
// in the default browser, letting pending events run, ending the program.
// Tests replace the first and the last so nothing leaves the test process.

#include <QUrl>
#include <functional>

namespace desktop {

using UrlOpener = std::function<bool(const QUrl&)>;
// Opens `url` with its default program; false when that failed.
bool openDocument(const QUrl& url);
void setUrlOpener(UrlOpener opener); // null restores the system's

// One pass of the window system's queue.
void doEvents();

// Ends the program (the last step of shutting down).
using ProgramEnd = std::function<void()>;
void endProgram();
void setProgramEnd(ProgramEnd end); // null restores QCoreApplication::quit

} // namespace desktop
