#pragma once
// The once-per-run question to the directory service whether a newer program
// exists: the request it sends and how the answer is read.

#include <QByteArray>
#include <QString>
#include <optional>

namespace updatecheck {

// "GET /autoupdate/autoupdate.txt HTTP/1.0" with its headers, byte for byte.
QByteArray request(const QString& serverHost);

struct NewVersion
{
    QString version; // exactly 4 characters, e.g. "2.32"
    QString notes;   // the release notes, unchanged
};

// Reads a whole response (header and body) and returns the offered version when
// it is newer than `running` (text comparison, character by character).
std::optional<NewVersion> parse(const QByteArray& response, const QString& running);

} // namespace updatecheck
