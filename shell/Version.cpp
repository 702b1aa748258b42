#include "shell/Version.h"

namespace version {
int major() { return VANTORA_VERSION_MAJOR; }
int minor() { return VANTORA_VERSION_MINOR; }
int revision() { return VANTORA_VERSION_REVISION; }
QString compact() { return QStringLiteral("%1.%2%3").arg(major()).arg(minor()).arg(revision()); }
QString dotted() { return QStringLiteral("%1.%2.%3").arg(major()).arg(minor()).arg(revision()); }
} // namespace version
