#pragma once
// Keeps windows that the card component opens during a call in front of everything
// else: the windows present when the call starts are recorded, and every window that
// shows up while it runs is made top-most once.
#include <cstdint>

constexpr int kInitialWindowListSize = 256;

void startTopMostControl(uint32_t processId, bool allWindows);
void stopTopMostControl();
// Installs the control into the pass-through call of the session layer.
void installTopMostControl();

// Current capacity of the seen-window list (it only grows), for tests.
int topMostListCapacity();
