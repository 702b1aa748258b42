#include "server/EngineHooks.h"

namespace {
enginehooks::ChatAcceptHandler chatAcceptHandler;
enginehooks::ChatRequestHandler chatRequestHandler;
enginehooks::ChatRejectHandler chatRejectHandler;
enginehooks::AddressHook addHook;
enginehooks::AddressHook removeHook;
} // namespace

namespace enginehooks {

void setChatAcceptHandler(ChatAcceptHandler handler) { chatAcceptHandler = std::move(handler); }
void setChatRequestHandler(ChatRequestHandler handler) { chatRequestHandler = std::move(handler); }
void setChatRejectHandler(ChatRejectHandler handler) { chatRejectHandler = std::move(handler); }
void setActiveConnectionsHooks(AddressHook add, AddressHook remove)
{
    addHook = std::move(add);
    removeHook = std::move(remove);
}

bool hasChatAcceptHandler() { return bool(chatAcceptHandler); }
quint16 chatAccept(const QString& name) { return chatAcceptHandler ? chatAcceptHandler(name) : 0; }
void chatRequest(const QString& request, const QString& peerAddress)
{
    if (chatRequestHandler)
        chatRequestHandler(request, peerAddress);
}
bool hasChatRejectHandler() { return bool(chatRejectHandler); }
void chatReject(const QString& peerAddress)
{
    if (chatRejectHandler)
        chatRejectHandler(peerAddress);
}
void addActiveConnection(const QString& address)
{
    if (addHook)
        addHook(address);
}
void removeActiveConnection(const QString& address)
{
    if (removeHook)
        removeHook(address);
}

} // namespace enginehooks
