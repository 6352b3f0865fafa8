// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the real kelvane-cli for the end-to-end tests of render.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "TempDir.h"

extern char** environ;

namespace kelvane::cli {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
  std::vector<std::string> errLines() const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < err.size()) {
      const auto end = err.find('\n', start);
      lines.push_back(err.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    return lines;
  }
};

// Runs kelvane-cli with a private config folder (never the user's settings) and the given
// extra environment; standard output (unless stdoutFd is given) and error are collected
// through files.
inline RunResult RunCli(const kelvane::testing::TempDir& tmp, const std::vector<std::string>& args,
                        const std::vector<std::string>& extraEnv = {},
                        const std::function<void(pid_t)>& whileRunning = nullptr,
                        int stdoutFd = -1) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.rfind("XDG_CONFIG_HOME=", 0) == 0 || entry.rfind("KELVANE_SETTINGS=", 0) == 0) {
      continue;
    }
    env.push_back(entry);
  }
  env.push_back("XDG_CONFIG_HOME=" + (tmp / "config"));
  for (const auto& e : extraEnv) env.push_back(e);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = {KELVANE_CLI_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outPath = tmp / ".stdout", errPath = tmp / ".stderr";

  RunResult r;
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, 0);
    ::dup2(stdoutFd >= 0 ? stdoutFd : out, 1);
    ::dup2(err, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (whileRunning) whileRunning(pid);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = kelvane::testing::ReadFile(outPath);
  r.err = kelvane::testing::ReadFile(errPath);
  std::filesystem::remove(outPath);
  std::filesystem::remove(errPath);
  return r;
}

}  // namespace kelvane::cli
