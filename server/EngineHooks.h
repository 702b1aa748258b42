#pragma once
// Windows of the community folder that the connection handlers reach (chat
// and the active connections list). They register themselves here; until one
// is registered a handler recognises the input and goes on without it.

#include <QString>
#include <functional>

namespace enginehooks {

// "CHAT ACCEPT" + name: opens a chat window for `name`, returns the port it
// listens on, or 0 when no chat is opened (nothing is sent back then).
using ChatAcceptHandler = std::function<quint16(const QString& name)>;
// An incoming "/CHATREQUEST_" with the request string and the peer's address.
using ChatRequestHandler = std::function<void(const QString& request, const QString& peerAddress)>;
// "CHAT REJECT" from the peer at `peerAddress`: whoever registers decides what the user sees.
using ChatRejectHandler = std::function<void(const QString& peerAddress)>;
// The active connections list: one line per peer address.
using AddressHook = std::function<void(const QString& address)>;

void setChatAcceptHandler(ChatAcceptHandler handler);
void setChatRequestHandler(ChatRequestHandler handler);
void setChatRejectHandler(ChatRejectHandler handler);
void setActiveConnectionsHooks(AddressHook add, AddressHook remove);

// Callers: the connection handlers. Each does nothing
// (and chatAccept returns 0) when nothing is registered.
bool hasChatAcceptHandler();
quint16 chatAccept(const QString& name);
void chatRequest(const QString& request, const QString& peerAddress);
bool hasChatRejectHandler();
void chatReject(const QString& peerAddress);
void addActiveConnection(const QString& address);
void removeActiveConnection(const QString& address);

} // namespace enginehooks
