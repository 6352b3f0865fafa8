// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps the audio libraries' own diagnostics away from the user while the sound card is in use,
// and lets everything else through.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "options.h"

namespace kelvane::cli {

// Lines that PortAudio, the ALSA plugins and JACK print on their own (e.g. when a device is
// probed or the sound server dies); our messages say what matters instead.
inline bool IsAudioLibraryNoise(std::string_view line) {
  const auto starts = [line](std::string_view p) { return line.substr(0, p.size()) == p; };
  if (starts("ALSA lib ") || starts("Cannot connect to server ") ||
      starts("jack server is not running") || starts("JackShmReadWritePtr") ||
      starts("Cannot lock down ") || starts("bt_audio_service_open: ")) {
    return true;
  }
  // PortAudio's failed-call trace: Expression '...' failed in 'src/.../pa_x.c', line: N
  return starts("Expression '") && line.find("' failed in 'src/") != std::string_view::npos;
}

// While alive, file descriptor 2 is a pipe to a small filter process that drops the lines of
// IsAudioLibraryNoise and passes every other byte on to the real standard error. A process of
// its own, so that what this one writes just before it aborts or a sanitizer ends it (the
// reason for the end) still gets out: the filter drains the pipe until the last writer is gone.
// Our own messages go straight to the real standard error through Say.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved_ < 0) return;
    const int mine = ::fcntl(saved_, F_DUPFD_CLOEXEC, 3);
    err_ = mine >= 0 ? ::fdopen(mine, "w") : nullptr;
    if (err_ == nullptr && mine >= 0) ::close(mine);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    filter_ = ::fork();
    if (filter_ == 0) {
      // Ctrl-C reaches the whole process group: the filter outlives the stop to pass on what
      // comes after it, and ends when the pipe does.
      ::signal(SIGINT, SIG_IGN);
      ::signal(SIGTERM, SIG_IGN);
      ::signal(SIGHUP, SIG_IGN);
      ::signal(SIGPIPE, SIG_IGN);
      ::close(pipeFds[1]);
      Filter(pipeFds[0], saved_);
      ::_exit(0);
    }
    if (filter_ > 0) ::dup2(pipeFds[1], STDERR_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
  }
  ~QuietStderr() { Restore(); }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

  // Puts the original standard error back once the filter has passed on what it was given.
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    if (err_ != nullptr) std::fclose(err_);
    err_ = nullptr;
    ::dup2(saved_, STDERR_FILENO);  // closes our end of the pipe: the filter sees its end
    ::close(saved_);
    saved_ = -1;
    if (filter_ > 0) {
      // A process started by an audio library may still hold the pipe: wait a little only.
      for (int i = 0; i < 50 && ::waitpid(filter_, nullptr, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(4));
      }
      filter_ = -1;
    }
  }

  // "kelvane-cli: <message>" on the real standard error.
  void Say(std::string_view message) {
    std::FILE* to = err_ != nullptr ? err_ : stderr;
    std::fprintf(to, "%s: %.*s\n", kProgramName, static_cast<int>(message.size()), message.data());
    std::fflush(to);
  }

 private:
  static void WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  // Whole lines are judged; a line longer than the buffer passes in pieces.
  static void Filter(int in, int out) {
    std::string pending;
    char chunk[4096];
    for (;;) {
      const ssize_t n = ::read(in, chunk, sizeof chunk);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(chunk, static_cast<std::size_t>(n));
      std::size_t start = 0;
      for (std::size_t eol; (eol = pending.find('\n', start)) != std::string::npos;
           start = eol + 1) {
        const std::string_view line(pending.data() + start, eol - start);
        if (!IsAudioLibraryNoise(line)) WriteAll(out, line.data(), line.size() + 1);
      }
      pending.erase(0, start);
      if (pending.size() >= sizeof chunk) {
        WriteAll(out, pending.data(), pending.size());
        pending.clear();
      }
    }
    if (!pending.empty() && !IsAudioLibraryNoise(pending)) {
      WriteAll(out, pending.data(), pending.size());
    }
  }

  int saved_ = -1;
  std::FILE* err_ = nullptr;
  pid_t filter_ = -1;
};

}  // namespace kelvane::cli
