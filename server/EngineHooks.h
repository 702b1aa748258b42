#pragma once
// Windows of the community folder that the engine reaches (chat, the active
// connections list, the registration wizard). They register themselves here;
// until one is registered the engine recognises the input and goes on without it.

#include <QString>
#include <functional>

class QWidget;

namespace enginehooks {

// "CHAT ACCEPT" + name: opens a chat window for `name`, returns the port it listens on.
using ChatAcceptHandler = std::function<quint16(const QString& name)>;
// An incoming "/CHATREQUEST_" with the request string and the peer's address.
using ChatRequestHandler = std::function<void(const QString& request, const QString& peerAddress)>;
// The active connections list: one line per peer address.
using AddressHook = std::function<void(const QString& address)>;
using WindowOpener = std::function<void(QWidget* owner)>;

void setChatAcceptHandler(ChatAcceptHandler handler);
void setChatRequestHandler(ChatRequestHandler handler);
void setActiveConnectionsHooks(AddressHook add, AddressHook remove);
void setSignupOpener(WindowOpener opener);

// Callers: the connection handlers and the engine window. Each does nothing
// (and chatAccept returns 0) when nothing is registered.
bool hasChatAcceptHandler();
quint16 chatAccept(const QString& name);
void chatRequest(const QString& request, const QString& peerAddress);
void addActiveConnection(const QString& address);
void removeActiveConnection(const QString& address);
void openSignup(QWidget* owner);

} // namespace enginehooks
