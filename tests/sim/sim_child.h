// SPDX-License-Identifier: GPL-3.0-or-later
// kvd-ecu-sim started as a child process (the end-to-end tests and the live benchmarks), serving
// the virtual ECU on a pseudo-terminal whose path it prints first. KVD_BINARY_DIR names the
// build folder that holds it.
#pragma once

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace kvd {

// kvd-ecu-sim as a child process; the first line of its output is the tester's path.
class SimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args) {
    const std::string program = std::string(KVD_BINARY_DIR) + "/kvd-ecu-sim";
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // Read the first line, waiting at most 5 s.
    char c;
    pollfd p{out[0], POLLIN, 0};
    while (pid_ > 0 && poll(&p, 1, 5000) == 1 && read(out[0], &c, 1) == 1 && c != '\n') {
      path_ += c;
    }
    close(out[0]);
  }
  ~SimProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  const std::string& Path() const { return path_; }
  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }
  // Asks the program to stop and returns its exit status (-1 if it did not exit by itself).
  int Terminate() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      usleep(10'000);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

}  // namespace kvd
#endif  // !_WIN32
