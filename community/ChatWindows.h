#pragma once
// Hands the chat windows to the shell (Invite) and to the connection
// handlers (requests and answers that arrive on our server).

// The text of the box that tells of a refused invitation.
inline constexpr const char* kChatRejectedText = "You chat request is rejected..";

void registerChatWindows();
