#pragma once
// vantora's command line: a port and a directory service for this run only.
// Neither is written to the settings. Arguments that are not options (the
// recorder starts vantora with "/reload") are ignored.

#include <QString>
#include <optional>

class QCommandLineParser;

namespace cmdline {

struct Options
{
    std::optional<int> port;       // --port N: where the camera is served (0: a free port)
    std::optional<QString> server; // --server HOST[:PORT]: the directory service
};

// Adds --port and --server to `parser`; other parts of the program add theirs.
void addOptions(QCommandLineParser& parser);
// The values of a parsed command line; false, with `error` set, for a value
// that cannot be used.
bool read(const QCommandLineParser& parser, Options& options, QString* error);

// "host", "host:port", "[IPv6]" or "[IPv6]:port"; false with `error` set otherwise.
bool validServer(const QString& text, QString* error);
// A port number 0 to 65535; false with `error` set otherwise.
bool validPort(const QString& text, int* port, QString* error);

} // namespace cmdline
