// Runs kvd-cli (or another tool of the build) as a child process and collects what it printed.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace kvd::testing {

inline const std::string kCliPath = KVD_BINARY_DIR "/kvd-cli";

struct CliRun {
  int exitCode = -1;
  std::vector<std::string> lines;  // standard output, one entry per line
  std::string err;                 // standard error
};

// Starts the program with args; standard input is /dev/null (no terminal to ask). When
// interruptAfterLines > 0, SIGINT is sent once that many lines of standard output have come.
inline CliRun RunCli(const std::vector<std::string>& args, size_t interruptAfterLines = 0,
                     const std::string& program = kCliPath) {
  int out[2];
  int err[2];
  if (pipe(out) != 0) return {};
  if (pipe(err) != 0) {
    close(out[0]);
    close(out[1]);
    return {};
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    const int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  CliRun run;
  // Standard error is read by a thread of its own, so that neither pipe can fill up and
  // stall the child.
  std::thread errReader([&run, fd = err[0]] {
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) run.err.append(chunk, static_cast<size_t>(n));
    close(fd);
  });
  FILE* f = fdopen(out[0], "r");
  char buf[4096];
  bool sent = false;
  while (fgets(buf, sizeof buf, f)) {
    std::string line(buf);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    run.lines.push_back(line);
    if (interruptAfterLines > 0 && !sent && run.lines.size() == interruptAfterLines) {
      kill(pid, SIGINT);
      sent = true;
    }
  }
  fclose(f);
  int status = 0;
  waitpid(pid, &status, 0);
  errReader.join();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace kvd::testing
