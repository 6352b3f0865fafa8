// SPDX-License-Identifier: GPL-3.0-or-later
// The output file rules: atomic replacement of regular files only, straight writes into
// devices, FIFOs and standard output.
#include "OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace kelvane {
namespace {

std::string Reason() {
  return std::strerror(errno);
}

std::string DirOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
std::string BaseOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Where a chain of symbolic links ends (the path itself when it is no link), so that the file
// is created or replaced there and the link stays. Empty with errno set for a loop.
std::string FollowLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(4096, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= link.size()) return path;
    link.resize(static_cast<std::size_t>(n));
    path = link[0] == '/' ? link : DirOf(path) + link;
  }
  errno = ELOOP;
  return {};
}

bool IsPartName(const std::string& name, const std::string& prefix) {
  if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
    return false;
  }
  for (std::size_t i = prefix.size(); i < name.size(); ++i) {
    const char c = name[i];
    const bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alnum) return false;
  }
  return true;
}

}  // namespace

void RemoveStaleParts(const std::string& target, int olderThanSeconds) {
  const std::string dir = DirOf(target);
  const std::string prefix = "." + BaseOf(target) + ".part-";
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (!IsPartName(name, prefix)) continue;
    struct stat st {};
    if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) continue;
    if (now - st.st_mtime < olderThanSeconds) continue;
    ::unlinkat(::dirfd(d), name.c_str(), 0);
  }
  ::closedir(d);
}

OutputFile::~OutputFile() {
  Abort();
}

bool OutputFile::Open(const std::string& path, const char* what, std::string& error) {
  Abort();
  path_ = path;
  direct_ = false;
  readerGone_ = false;
  if (path == "-") {
    if (::isatty(STDOUT_FILENO)) {
      error = std::string("refusing to write ") + what + " to a terminal: redirect standard output";
      return false;
    }
    file_ = stdout;
    ownsFile_ = false;
    direct_ = true;
    flushEach_ = true;
    return true;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = path + ": is a directory";
      return false;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
      const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) {
        error = path + ": cannot write: " + Reason();
        return false;
      }
      if (::isatty(fd)) {
        error = path + ": refusing to write " + what + " to a terminal";
        ::close(fd);
        return false;
      }
      return OpenDirect(fd, error);
    }
    if (!S_ISREG(st.st_mode)) {
      error = path + ": not a regular file, character device or FIFO";
      return false;
    }
    const std::string target = FollowLinks(path);
    if (target.empty() || ::access(target.c_str(), W_OK) != 0) {
      error = path + ": cannot write: " + Reason();
      return false;
    }
    if (!OpenTemporary(target, st.st_mode & 07777, error)) return false;
    // Keep the replaced file's owner where we may (as root).
    if (::fchown(::fileno(file_), st.st_uid, st.st_gid) != 0) {
      // Not permitted: the new file is ours, as any file we create.
    }
    return true;
  }
  if (errno != ENOENT) {
    error = path + ": cannot write: " + Reason();
    return false;
  }
  // Absent, or a link to a file still to be made.
  const std::string target = FollowLinks(path);
  if (target.empty()) {
    error = path + ": cannot write: " + Reason();
    return false;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return OpenTemporary(target, 0666 & ~mask, error);
}

bool OutputFile::OpenDirect(int fd, std::string& error) {
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    error = path_ + ": changed while it was being opened";
    ::close(fd);
    return false;
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    error = path_ + ": cannot write: " + Reason();
    ::close(fd);
    return false;
  }
  ownsFile_ = true;
  direct_ = true;
  flushEach_ = S_ISFIFO(st.st_mode);
  return true;
}

bool OutputFile::OpenTemporary(const std::string& target, mode_t mode, std::string& error) {
  RemoveStaleParts(target);
  target_ = target;
  tempPath_ = DirOf(target) + "." + BaseOf(target) + ".part-XXXXXX";
  const int fd = ::mkostemp(tempPath_.data(), O_CLOEXEC);
  if (fd < 0) {
    error = path_ + ": cannot write: " + Reason();
    tempPath_.clear();
    return false;
  }
  ::fchmod(fd, mode);
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    error = path_ + ": cannot write: " + Reason();
    ::close(fd);
    Abort();
    return false;
  }
  ownsFile_ = true;
  flushEach_ = false;
  return true;
}

// Reports the current errno for the target and drops what was written.
bool OutputFile::Fail(std::string& error) {
  readerGone_ = errno == EPIPE;
  error = path_ + ": cannot write: " + Reason();
  Abort();
  return false;
}

bool OutputFile::Write(const void* data, std::size_t bytes, std::string& error) {
  if (!file_) {
    error = path_ + ": not open";
    return false;
  }
  if (std::fwrite(data, 1, bytes, file_) != bytes || (flushEach_ && std::fflush(file_) != 0)) {
    readerGone_ = errno == EPIPE;
    error = (path_ == "-" ? std::string("standard output") : path_) + ": cannot write: " + Reason();
    return false;
  }
  return true;
}

bool OutputFile::WriteAt(std::uint64_t offset, const void* data, std::size_t bytes,
                         std::string& error) {
  if (!file_ || direct_ || std::fflush(file_) != 0) return Fail(error);
  const ssize_t n = ::pwrite(::fileno(file_), data, bytes, static_cast<off_t>(offset));
  if (n < 0 || static_cast<std::size_t>(n) != bytes) {
    if (n >= 0) errno = ENOSPC;
    return Fail(error);
  }
  return true;
}

bool OutputFile::Finish(std::string& error) {
  if (!file_) {
    error = path_ + ": not open";
    return false;
  }
  // A device or FIFO cannot be synced; its errors show at the flush.
  if (std::fflush(file_) != 0 || (!direct_ && ::fsync(::fileno(file_)) != 0)) return Fail(error);
  if (ownsFile_) {
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (closed != 0) return Fail(error);
  } else {
    file_ = nullptr;
  }
  return true;
}

bool OutputFile::Publish(std::string& error) {
  if (file_ && !Finish(error)) return false;
  if (!direct_ && !tempPath_.empty() && ::rename(tempPath_.c_str(), target_.c_str()) != 0) {
    return Fail(error);
  }
  tempPath_.clear();
  return true;
}

void OutputFile::Abort() {
  if (file_) {
    const int saved = errno;
    if (ownsFile_) {
      std::fclose(file_);
    } else {
      std::clearerr(file_);
    }
    file_ = nullptr;
    errno = saved;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace kelvane
