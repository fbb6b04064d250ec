// SPDX-License-Identifier: GPL-3.0-or-later
// Xvfb on a free display and real key and pointer input through the XTEST extension.
#include "x_server.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace kvd::xtest {

namespace {

pid_t g_server = -1;
Display* g_display = nullptr;

// Reads the display number Xvfb writes to its -displayfd descriptor when it is ready.
bool ReadDisplayNumber(int fd, std::string& number, std::string& whyNot) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) {
      whyNot = "Xvfb did not report a display within 10 s";
      return false;
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char c = 0;
    const ssize_t n = read(fd, &c, 1);
    if (n <= 0) {
      whyNot = "Xvfb could not be started (is the xvfb package installed?)";
      return false;
    }
    if (c == '\n') return !number.empty();
    if (c >= '0' && c <= '9') number += c;
  }
}

}  // namespace

bool StartServer(std::string& whyNot) {
  if (const char* given = std::getenv("KVD_XTEST_DISPLAY"); given && *given) {
    setenv("DISPLAY", given, 1);
    return true;
  }
  int fds[2];
  if (pipe(fds) != 0) {
    whyNot = "no pipe for Xvfb";
    return false;
  }
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    whyNot = "cannot fork for Xvfb";
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  g_server = pid;
  std::string number;
  const bool ok = ReadDisplayNumber(fds[0], number, whyNot);
  close(fds[0]);
  if (!ok) {
    StopServer();
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return true;
}

void StopServer() {
  if (g_server <= 0) return;
  kill(g_server, SIGTERM);
  int status = 0;
  waitpid(g_server, &status, 0);
  g_server = -1;
}

bool OpenInput(std::string& whyNot) {
  g_display = XOpenDisplay(nullptr);
  if (!g_display) {
    const char* name = std::getenv("DISPLAY");
    whyNot = std::string("cannot open the X display ") + (name ? name : "(unset)");
    return false;
  }
  int event = 0, error = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(g_display, &event, &error, &major, &minor)) {
    whyNot = "the X server has no XTEST extension";
    CloseInput();
    return false;
  }
  return true;
}

void CloseInput() {
  if (g_display) XCloseDisplay(g_display);
  g_display = nullptr;
}

static KeyCode CodeOf(const char* keysym) {
  if (!g_display) return 0;
  const KeySym sym = XStringToKeysym(keysym);
  return sym == NoSymbol ? 0 : XKeysymToKeycode(g_display, sym);
}

bool KeyKnown(const char* keysym) {
  return CodeOf(keysym) != 0;
}

static void Key(const char* keysym, bool down) {
  const KeyCode code = CodeOf(keysym);
  if (code == 0) return;
  XTestFakeKeyEvent(g_display, code, down ? True : False, CurrentTime);
  XFlush(g_display);
}

void KeyDown(const char* keysym) {
  Key(keysym, true);
}
void KeyUp(const char* keysym) {
  Key(keysym, false);
}

void ModifiersDown(unsigned mods) {
  if (mods & kCtrl) Key("Control_L", true);
  if (mods & kShift) Key("Shift_L", true);
  if (mods & kAlt) Key("Alt_L", true);
}

void ModifiersUp(unsigned mods) {
  if (mods & kAlt) Key("Alt_L", false);
  if (mods & kShift) Key("Shift_L", false);
  if (mods & kCtrl) Key("Control_L", false);
}

void MoveTo(int x, int y) {
  if (!g_display) return;
  XTestFakeMotionEvent(g_display, -1, x, y, CurrentTime);
  XFlush(g_display);
}

void Button(int button, bool down) {
  if (!g_display) return;
  XTestFakeButtonEvent(g_display, static_cast<unsigned>(button), down ? True : False, CurrentTime);
  XFlush(g_display);
}

void Sync() {
  if (g_display) XSync(g_display, False);
}

}  // namespace kvd::xtest
