// Keeps the audio libraries' own diagnostics away from the user while the sound card is in use.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string_view>

#include "options.h"

namespace kelvane::cli {

// While alive, file descriptor 2 points at /dev/null (PortAudio and the ALSA plugins print
// assertion and connection messages there, e.g. when the sound server dies); our own messages
// go to a copy of the original standard error through Say.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) ::dup2(null, STDERR_FILENO);
    if (null >= 0) ::close(null);
    if (saved_ >= 0) {
      const int mine = ::fcntl(saved_, F_DUPFD_CLOEXEC, 3);
      err_ = mine >= 0 ? ::fdopen(mine, "w") : nullptr;
      if (err_ == nullptr && mine >= 0) ::close(mine);
    }
  }
  ~QuietStderr() { Restore(); }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

  // Puts the original standard error back.
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    if (err_ != nullptr) std::fclose(err_);
    err_ = nullptr;
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
    saved_ = -1;
  }

  // "kelvane-cli: <message>" on the real standard error.
  void Say(std::string_view message) {
    std::FILE* to = err_ != nullptr ? err_ : stderr;
    std::fprintf(to, "%s: %.*s\n", kProgramName, static_cast<int>(message.size()), message.data());
    std::fflush(to);
  }

 private:
  int saved_ = -1;
  std::FILE* err_ = nullptr;
};

}  // namespace kelvane::cli
