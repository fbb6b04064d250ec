// Runs kvd-cli (or another tool of the build) as a child process and collects what it printed.
// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kvd::testing {

#ifdef _WIN32
inline constexpr const char* kExeSuffix = ".exe";
#else
inline constexpr const char* kExeSuffix = "";
#endif

// A program of the build folder by its name, with the system's suffix.
inline std::string BuildProgram(const std::string& name) {
  return std::string(KVD_BINARY_DIR) + "/" + name + kExeSuffix;
}

inline const std::string kCliPath = BuildProgram("kvd-cli");

struct CliRun {
  int exitCode = -1;
  std::vector<std::string> lines;  // standard output, one entry per line
  std::string err;                 // standard error
  bool signalled = false;          // the signal of PosixRunOptions was sent
};

#ifndef _WIN32
// What a POSIX run may do to the child: send it a signal once so many lines of standard output
// have come, and limit the size of any file it writes (a full disk).
struct PosixRunOptions {
  size_t signalAfterLines = 0;  // 0: no signal
  int signal = SIGINT;
  rlim_t fileSizeLimit = 0;  // 0: no limit
};

inline CliRun RunCliPosix(const std::vector<std::string>& args, const PosixRunOptions& options,
                          const std::string& program = kCliPath);
#endif

namespace detail {

// Splits standard output into lines (a CR before the LF counts as part of the line end).
inline void AddLine(CliRun& run, std::string line) {
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  run.lines.push_back(std::move(line));
}

#ifdef _WIN32
inline std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return w;
}

// One argument quoted as the C run-time and CommandLineToArgvW take it apart again.
inline std::wstring Quoted(const std::wstring& a) {
  if (!a.empty() && a.find_first_of(L" \t\n\v\"") == std::wstring::npos) return a;
  std::wstring q = L"\"";
  size_t slashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"')
      q.append(slashes * 2 + 1, L'\\');
    else
      q.append(slashes, L'\\');
    slashes = 0;
    q += c;
  }
  q.append(slashes * 2, L'\\');
  q += L'"';
  return q;
}
#endif

}  // namespace detail

// Starts the program with args (UTF-8); standard input is the null device (no terminal to
// ask). When interruptAfterLines > 0, SIGINT is sent once that many lines of standard output
// have come (POSIX only: Windows has no signal to send to one other process).
inline CliRun RunCli(const std::vector<std::string>& args, size_t interruptAfterLines = 0,
                     const std::string& program = kCliPath) {
#ifdef _WIN32
  (void)interruptAfterLines;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inherit, 0)) return {};
  if (!CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    CloseHandle(outRead);
    CloseHandle(outWrite);
    return {};
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           OPEN_EXISTING, 0, nullptr);
  std::wstring commandLine = detail::Quoted(detail::Wide(program));
  for (const auto& a : args) commandLine += L" " + detail::Quoted(detail::Wide(a));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nul;
  si.hStdOutput = outWrite;
  si.hStdError = errWrite;
  PROCESS_INFORMATION pi{};
  const std::wstring exe = detail::Wide(program);
  const BOOL started = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &si, &pi);
  CloseHandle(outWrite);
  CloseHandle(errWrite);
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  CliRun run;
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    return run;
  }
  // Standard error is read by a thread of its own, so that neither pipe can fill up and
  // stall the child.
  std::thread errReader([&run, errRead] {
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(errRead, chunk, sizeof chunk, &n, nullptr) && n > 0) run.err.append(chunk, n);
    CloseHandle(errRead);
  });
  std::string pending;
  char chunk[4096];
  DWORD n = 0;
  while (ReadFile(outRead, chunk, sizeof chunk, &n, nullptr) && n > 0) {
    pending.append(chunk, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
      detail::AddLine(run, pending.substr(0, nl + 1));
      pending.erase(0, nl + 1);
    }
  }
  if (!pending.empty()) detail::AddLine(run, pending);
  CloseHandle(outRead);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  errReader.join();
  run.exitCode = static_cast<int>(code);
  return run;
#else
  return RunCliPosix(args, {interruptAfterLines, SIGINT, 0}, program);
#endif
}

#ifndef _WIN32
inline CliRun RunCliPosix(const std::vector<std::string>& args, const PosixRunOptions& options,
                          const std::string& program) {
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
    if (options.fileSizeLimit > 0) {
      signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
      rlimit lim{options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &lim);
    }
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
  while (fgets(buf, sizeof buf, f)) {
    detail::AddLine(run, buf);
    if (options.signalAfterLines > 0 && !run.signalled &&
        run.lines.size() == options.signalAfterLines) {
      kill(pid, options.signal);
      run.signalled = true;
    }
  }
  fclose(f);
  int status = 0;
  waitpid(pid, &status, 0);
  errReader.join();
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
#endif

}  // namespace kvd::testing
