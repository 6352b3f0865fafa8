// SPDX-License-Identifier: GPL-3.0-or-later
// INI file as lines: case-insensitive lookup, in-place updates, atomic save.
#include "IniFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace kelvane {
namespace {

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// The part of a line that the parser looks at, or nullopt for a line it must ignore
// (overlong, or holding NUL bytes).
std::optional<std::string_view> Usable(const std::string& raw, std::size_t index) {
  if (raw.size() > IniFile::kMaxLineLength) return std::nullopt;
  if (raw.find('\0') != std::string::npos) return std::nullopt;
  std::string_view s(raw);
  if (index == 0 && s.substr(0, 3) == "\xEF\xBB\xBF") s.remove_prefix(3);  // UTF-8 mark
  return Trim(s);
}

std::optional<std::string_view> SectionName(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

bool SplitKeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  if (line.empty() || line.front() == ';' || line.front() == '#' || line.front() == '[') {
    return false;
  }
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return !key.empty();
}

bool WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  std::size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// mkstemp's six characters are letters and digits.
bool IsOurTemporary(std::string_view name, std::string_view prefix) {
  if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) return false;
  for (char c : name.substr(prefix.size())) {
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) return false;
  }
  return true;
}

// Removes temporaries that a killed save of the same target left behind. A concurrent save's
// file is seconds old at most, so only old regular files of exactly our pattern go.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix) {
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* e = ::readdir(d)) {
    if (!IsOurTemporary(e->d_name, prefix)) continue;
    const std::string full = dir + "/" + e->d_name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (now - st.st_mtime > IniFile::kStaleTemporaryAge_s) ::unlink(full.c_str());
  }
  ::closedir(d);
}

IniFile::LoadStatus Unreadable(std::string* reason, const std::string& why) {
  if (reason) *reason = why;
  return IniFile::LoadStatus::Unreadable;
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (UpperAscii(a[i]) != UpperAscii(b[i])) return false;
  }
  return true;
}

IniFile::LoadStatus IniFile::Load(const std::string& path, std::string* reason) {
  lines_.clear();
  newline_ = "\n";
  // Non-blocking, so that opening a FIFO returns at once and fstat can refuse it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return LoadStatus::Missing;
    return Unreadable(reason, std::strerror(errno));
  }
  std::string text;
  std::string why;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    why = "is a folder";
  } else if (!S_ISREG(st.st_mode)) {
    why = "is not a regular file";
  } else if (static_cast<std::uintmax_t>(st.st_size) > kMaxFileSize) {
    why = "is larger than 1 MiB";
  }
  char buf[65536];
  while (why.empty()) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      why = std::strerror(errno);
    } else if (n == 0) {
      break;
    } else if (text.size() + static_cast<std::size_t>(n) > kMaxFileSize) {
      why = "is larger than 1 MiB";  // grew while being read
    } else {
      text.append(buf, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  if (!why.empty()) return Unreadable(reason, why);
  Parse(text);
  return LoadStatus::Ok;
}

void IniFile::Parse(std::string_view text) {
  lines_.clear();
  newline_ = "\n";
  const auto firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos && firstBreak > 0 && text[firstBreak - 1] == '\r') {
    newline_ = "\r\n";
  }
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (newline_.size() == 2 && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines_.emplace_back(line);
    start = end + 1;
  }
}

std::optional<std::size_t> IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto line = Usable(lines_[i], i);
    if (!line) continue;
    const auto name = SectionName(*line);
    if (name && EqualsIgnoreCase(*name, section)) return i;
  }
  return std::nullopt;
}

std::optional<IniFile::KeyRef> IniFile::FindKey(std::size_t sectionLine,
                                                std::string_view key) const {
  for (std::size_t i = sectionLine + 1; i < lines_.size(); ++i) {
    const auto line = Usable(lines_[i], i);
    if (!line) continue;
    if (SectionName(*line)) break;
    std::string_view k, v;
    if (SplitKeyValue(*line, k, v) && EqualsIgnoreCase(k, key)) return KeyRef{i, k, v};
  }
  return std::nullopt;
}

std::optional<std::string> IniFile::Get(std::string_view section, std::string_view key) const {
  const auto sec = FindSection(section);
  if (!sec) return std::nullopt;
  const auto ref = FindKey(*sec, key);
  if (!ref) return std::nullopt;
  return std::string(ref->value);
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string line(key);
  line += '=';
  for (char c : value) line += (c == '\r' || c == '\n' || c == '\0') ? ' ' : c;
  const auto sec = FindSection(section);
  if (!sec) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + std::string(section) + "]");
    lines_.push_back(std::move(line));
    return;
  }
  if (const auto ref = FindKey(*sec, key)) {
    lines_[ref->line] = std::move(line);
    return;
  }
  // After the section's last non-blank line, so blank separators stay before the next section.
  std::size_t insertAt = *sec + 1;
  for (std::size_t i = *sec + 1; i < lines_.size(); ++i) {
    const auto usable = Usable(lines_[i], i);
    if (usable && SectionName(*usable)) break;
    if (!Trim(lines_[i]).empty()) insertAt = i + 1;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), std::move(line));
}

std::string IniFile::Text() const {
  std::string text;
  for (const auto& line : lines_) {
    text += line;
    text += newline_;
  }
  return text;
}

bool IniFile::Save(const std::string& path, std::string& error) const {
  error.clear();
  const auto fail = [&] {
    error = "Unable to write to " + path;
    return false;
  };
  // Replace a symlink's target rather than the link itself.
  std::string target = path;
  std::error_code ec;
  if (std::filesystem::is_symlink(path, ec)) {
    const auto resolved = std::filesystem::weakly_canonical(path, ec);
    if (ec) return fail();  // a loop: never replace the link itself
    target = resolved.string();
  }
  // Only a regular file is replaced (never a directory or a device), and write protection
  // holds even for root, for whom access() always allows writing.
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return fail();
  if (exists && !S_ISREG(old.st_mode)) return fail();
  if (exists && ((old.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)) return fail();

  const auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string(".")
                          : slash == 0               ? std::string("/")
                                                     : target.substr(0, slash);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  const std::string prefix = "." + base + ".tmp-";
  RemoveStaleTemporaries(dir, prefix);
  std::string tmp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) +
                    prefix + "XXXXXX";
  const int fd = ::mkstemp(tmp.data());
  if (fd < 0) return fail();
  mode_t mode = 0;
  if (exists) {
    mode = old.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool ok = ::fchmod(fd, mode) == 0;
  ok = ok && WriteAll(fd, Text());
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(tmp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return fail();
  }
  // Make the rename itself durable; a failure here no longer risks the file's content.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

}  // namespace kelvane
