#pragma once
// Product configuration in one place: where the directory service is, which
// account domains exist, and the product's web pages (served by the service).

#include <QString>
#include <QStringList>
#include <QUrl>

namespace product {

// Host of the directory service, optionally "host:port" (port 80 otherwise).
// The environment variable VANTORA_SERVER overrides it.
QString serverHost();
QString defaultServerHost();
// The host part and the port of a "host[:port]" text.
QString hostOf(const QString& serverHost);
quint16 portOf(const QString& serverHost);

// Index 0: the product's own domain; index 1: the second account domain.
QStringList accountDomains();

enum class Page { Help, Support, Terms, Legal, Download, Site };
// Path of a page on the directory service, e.g. "/help.html".
QString pagePath(Page page);
QUrl pageUrl(Page page);

} // namespace product
