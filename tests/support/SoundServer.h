// SPDX-License-Identifier: GPL-3.0-or-later
// Access to the private test sound server from the tests; its clients run through Process.h.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "Process.h"

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

}  // namespace kelvane::testing
