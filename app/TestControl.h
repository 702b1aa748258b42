#pragma once
// A control for automated tests that run the program as a separate process:
// with VANTORA_TEST_CONTROL naming a local socket, the program listens there
// (for this user alone) and does what a user would with its windows (click a
// button, type, press Enter, pick a menu entry) and tells what they show.
// Without the variable nothing listens.

class QObject;

// Starts the control when the variable is set; false when it is set and the
// socket cannot be made.
bool startTestControl(QObject* parent);
