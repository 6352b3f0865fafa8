// SPDX-License-Identifier: GPL-3.0-or-later
// Settings folder, program folder name and bit test (Linux, "/" as the separator).
#include "kelvutil.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kelvane {
namespace {

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

bool IsAbsolute(const std::string& p) {
  return !p.empty() && p[0] == '/';
}

// Directory part of a path, up to and including its last "/" ("" when there is none).
std::string DirectoryPart(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string ProgramPath() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string PlatformBaseFolder(bool allUsers) {
  if (allUsers) {
    const std::string dirs = EnvOrEmpty("XDG_CONFIG_DIRS");
    std::size_t start = 0;
    while (start <= dirs.size()) {
      std::size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string entry = dirs.substr(start, end - start);
      if (IsAbsolute(entry)) return entry;
      start = end + 1;
    }
    return "/etc/xdg";
  }
  std::string base = EnvOrEmpty("XDG_CONFIG_HOME");
  if (IsAbsolute(base)) return base;
  const std::string home = EnvOrEmpty("HOME");
  if (IsAbsolute(home)) return home + (home.back() == '/' ? ".config" : "/.config");
  return std::string();
}

std::string AppDataFolderFrom(const std::string& baseFolder, const std::string& programPath,
                              bool create) {
  if (baseFolder.empty()) {
    std::string dir = DirectoryPart(programPath);
    return dir.empty() ? std::string("./") : dir;
  }
  std::string folder = baseFolder;
  if (folder.back() != '/') folder += '/';
  folder += kSettingsFolderName;
  if (create) {
    // A fresh account may not have the base folder yet either, so make the whole chain;
    // a failure shows up later as the save error.
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
  }
  return folder + '/';
}

std::string AppDataFolder(bool allUsers, bool create) {
  return AppDataFolderFrom(PlatformBaseFolder(allUsers), ProgramPath(), create);
}

std::string ProgramFolderName(const std::string& programPath) {
  std::string dir = DirectoryPart(programPath);
  if (!dir.empty() && dir.back() == '/') dir.pop_back();
  // A Linux path has no drive prefix ("D:"), so every "/" of the directory counts; the root
  // itself was removed with the final separator above.
  std::string result;
  const auto slash = dir.rfind('/');
  if (slash != std::string::npos) result = dir.substr(slash + 1);
  if (result.empty()) {
    const auto nameStart = programPath.rfind('/');
    result = nameStart == std::string::npos ? programPath : programPath.substr(nameStart + 1);
    for (char& c : result) {
      if (c == '.') c = '_';
    }
  }
  return result;
}

bool BitIsSet(std::int32_t value, int n) {
  // n & 31 is n modulo 32 for negative n as well (bit -1 is bit 31).
  return ((static_cast<std::uint32_t>(value) >> (static_cast<unsigned>(n) & 31u)) & 1u) != 0;
}

}  // namespace kelvane
