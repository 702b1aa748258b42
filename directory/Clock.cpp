#include "directory/Clock.h"

#include <QDateTime>

namespace directory {

qint64 SystemClock::nowMs() const { return QDateTime::currentMSecsSinceEpoch(); }

} // namespace directory
