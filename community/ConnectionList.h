#pragma once
// What the active connections window knows without being a window: the lines
// it lists, where it stands on the screen, and how a route trace is started.

#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

// One line per connection, in the order they came; one address may stand on
// several lines.
class ConnectionList
{
public:
    void add(const QString& address);
    // Removes the first line that begins with `address` and stops there (a
    // shorter address may take a longer one's line); an empty one removes
    // nothing. Returns the index of the line that went, or -1.
    qsizetype remove(const QString& address);
    const QStringList& lines() const { return m_lines; }
    void clear() { m_lines.clear(); }

private:
    QStringList m_lines;
};

// The window's place and size as stored under "Active Connections", in twips.
namespace connectionsgeometry {

constexpr int kTwipsPerPixel = 15;
constexpr int kDefaultWidth = 2220;
constexpr int kDefaultHeight = 3600;

// The stored rectangle in pixels; a missing value takes its default (centred
// on `screen` at the designed size).
QRect load(const QRect& screen);
// Stores the rectangle (pixels) as twips.
void save(const QRect& geometry);

} // namespace connectionsgeometry

// Route tracing in the desktop's terminal.
namespace routetrace {

// Finds a program on the search path; empty when there is none.
using ProgramFinder = std::function<QString(const QString& name)>;
QString findOnPath(const QString& name);

struct Launch
{
    QString program; // empty when nothing can be started
    QStringList arguments;
    QString problem; // what to tell the user when program is empty
};

// The terminal and its arguments that run a trace to `address` and wait for
// Enter before closing. Only a literal IP address is traced: anything else
// (an empty selection, a host name, text starting with "-") is refused.
Launch plan(const QString& address, const ProgramFinder& find = findOnPath);

} // namespace routetrace
