// Access to the private test sound server and its command-line clients from the tests.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kelvane::testing {

// Folder of the server that the ctest fixture started (the environment names it); empty when
// the test runs outside that fixture.
inline std::string SoundServerDir() {
  const char* dir = std::getenv("KELVANE_SOUND_DIR");
  return dir != nullptr ? dir : "";
}

inline pid_t SoundServerPid() {
  std::ifstream in(SoundServerDir() + "/pid");
  pid_t pid = -1;
  in >> pid;
  return pid;
}

// Starts argv with stdout into `stdoutPath` (or inherited when empty).
inline pid_t Spawn(const std::vector<std::string>& argv, const std::string& stdoutPath = "") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!stdoutPath.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for a child up to `timeout`; returns its exit status, or -1 if it had to be killed.
inline int WaitChild(pid_t pid, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  int status = 0;
  while (std::chrono::steady_clock::now() < end) {
    const pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return -1;
}

inline std::vector<char> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Waits until a file has grown beyond `bytes` (a recorder is running), up to `timeout`.
inline bool WaitForGrowth(const std::string& path, std::size_t bytes,
                          std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (in && static_cast<std::size_t>(in.tellg()) > bytes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

}  // namespace kelvane::testing
