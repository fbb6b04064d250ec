// SPDX-License-Identifier: GPL-3.0-or-later
// A private X server for the real-input tests and the XTEST calls that type and click on it.
// No Xlib type leaks out of here: Xlib's macros clash with Qt's names.
#pragma once

#include <string>

namespace kvd::xtest {

// Starts Xvfb on a free display number and points DISPLAY at it; KVD_XTEST_DISPLAY names an
// existing server to use instead. False (with the reason) when there is no server to be had.
bool StartServer(std::string& whyNot);
// Ends the server started by StartServer.
void StopServer();

// Connects to the server of DISPLAY and checks its XTEST extension.
bool OpenInput(std::string& whyNot);
void CloseInput();

enum Modifier : unsigned {
  kShift = 1,
  kCtrl = 2,
  kAlt = 4,
};

// Keys by their X keysym names ("KP_Add", "Pause", "equal", "a", "F1").
bool KeyKnown(const char* keysym);
void KeyDown(const char* keysym);
void KeyUp(const char* keysym);
void ModifiersDown(unsigned mods);
void ModifiersUp(unsigned mods);
// Pointer, in root-window (= global screen) coordinates; buttons 1 left, 2 middle, 3 right.
void MoveTo(int x, int y);
void Button(int button, bool down);
// Waits until the server has handled every request sent so far.
void Sync();

}  // namespace kvd::xtest
