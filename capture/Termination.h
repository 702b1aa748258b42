#pragma once
// SIGTERM, SIGINT and SIGHUP reach both programs as an ordinary event on the
// window thread, so they shut down in order (finish a recording, log off)
// instead of dying mid-way.

#include <functional>

class QObject;

// Calls `handler` on the thread of `context` when one of those signals
// arrives; once, later signals are left to the handler's shut-down.
void onTerminationSignal(QObject* context, std::function<void()> handler);
