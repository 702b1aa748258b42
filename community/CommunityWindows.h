#pragma once
// Hands the community windows to the shell and the engine (called once by the program).

void registerCommunityWindows();
