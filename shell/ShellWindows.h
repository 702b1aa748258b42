#pragma once
// Where the shell's windows start: the splash first, and the main window once
// the splash has been seen; the main window then runs the start-up steps and
// loads the tray and the information windows it needs.

// Fills the global state and shows the splash window; 200 ms later the main
// window loads and runs the start-up steps, one per pass of the event loop.
// Returns at once.
void startWindows();
