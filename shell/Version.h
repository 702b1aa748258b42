#pragma once
#include <QString>

namespace version {
int major();
int minor();
int revision();
// major "." minor revision, e.g. "1.01": what the update check compares.
QString compact();
// major "." minor "." revision, e.g. "1.0.1": the splash window's form.
QString dotted();
} // namespace version
