// WAV reader (tolerant of extra chunks and padding) and a WAV writer that replaces only
// regular files, atomically, and writes straight into devices and FIFOs.
#include "wav.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace kelvane::cli {
namespace {

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void Put16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The PCM sub-format GUID of WAVE_FORMAT_EXTENSIBLE after its leading 16-bit format code.
constexpr std::uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::string Reason() {
  return std::strerror(errno);
}

}  // namespace

WavReader::~WavReader() {
  if (file_) std::fclose(file_);
}

bool WavReader::Open(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    error = path + ": " + Reason();
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    error = path + ": " + Reason();
    return false;
  }
  const std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);
  std::uint8_t riff[12];
  if (std::fread(riff, 1, 12, file_) != 12 || std::memcmp(riff, "RIFF", 4) != 0 ||
      std::memcmp(riff + 8, "WAVE", 4) != 0) {
    error = path + ": not a WAV file";
    return false;
  }
  std::uint64_t pos = 12;
  bool haveFormat = false;
  std::uint64_t dataStart = 0;
  bool haveData = false;
  while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
    std::uint8_t head[8];
    if (::fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0 ||
        std::fread(head, 1, 8, file_) != 8) {
      break;
    }
    const std::uint64_t size = Le32(head + 4);
    const std::uint64_t body = pos + 8;
    if (std::memcmp(head, "fmt ", 4) == 0 && !haveFormat) {
      std::uint8_t fmt[40] = {};
      const std::size_t want = size < sizeof fmt ? static_cast<std::size_t>(size) : sizeof fmt;
      if (size < 16 || std::fread(fmt, 1, want, file_) != want) {
        error = path + ": damaged format chunk";
        return false;
      }
      format_.formatTag = Le16(fmt);
      format_.channels = Le16(fmt + 2);
      format_.sampleRate = Le32(fmt + 4);
      format_.blockAlign = Le16(fmt + 12);
      format_.bitsPerSample = Le16(fmt + 14);
      format_.pcm = format_.formatTag == 1;
      if (format_.formatTag == 0xFFFE && want >= 40 && Le16(fmt + 16) >= 22) {
        format_.pcm = Le16(fmt + 24) == 1 && std::memcmp(fmt + 26, kPcmGuidTail, 14) == 0;
      }
      haveFormat = true;
    } else if (std::memcmp(head, "data", 4) == 0 && !haveData) {
      dataStart = body;
      // A size that runs past the end (or the 0xFFFFFFFF of a streaming writer): take what
      // the file holds.
      dataBytes_ = body + size <= fileSize ? size : fileSize - body;
      haveData = true;
    }
    pos = body + size + (size & 1);  // chunks are padded to an even length
  }
  if (!haveFormat) {
    error = path + ": no format chunk";
    return false;
  }
  if (!haveData) {
    error = path + ": no data chunk";
    return false;
  }
  if (format_.channels == 0 || format_.blockAlign == 0) {
    error = path + ": damaged format chunk";
    return false;
  }
  dataBytes_ -= dataBytes_ % format_.blockAlign;  // whole frames only
  dataLeft_ = dataBytes_;
  if (::fseeko(file_, static_cast<off_t>(dataStart), SEEK_SET) != 0) {
    error = path + ": " + Reason();
    return false;
  }
  return true;
}

std::size_t WavReader::Read(std::uint8_t* out, std::size_t bytes) {
  if (!file_ || failed_) return 0;
  std::uint64_t want = bytes < dataLeft_ ? bytes : dataLeft_;
  want -= want % (format_.blockAlign ? format_.blockAlign : 1);
  if (want == 0) return 0;
  const std::size_t got = std::fread(out, 1, static_cast<std::size_t>(want), file_);
  if (got != want) {
    // The file shrank or could not be read: stop here rather than feed a split frame.
    failed_ = std::ferror(file_) != 0;
    dataLeft_ = 0;
    return got - got % format_.blockAlign;
  }
  dataLeft_ -= got;
  return got;
}

void MakeWavHeader(std::uint8_t out[44], std::uint32_t sampleRate, std::uint16_t channels,
                   std::uint32_t dataBytes) {
  const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * 2);
  std::memcpy(out, "RIFF", 4);
  Put32(out + 4, 36 + dataBytes);
  std::memcpy(out + 8, "WAVEfmt ", 8);
  Put32(out + 16, 16);
  Put16(out + 20, 1);
  Put16(out + 22, channels);
  Put32(out + 24, sampleRate);
  Put32(out + 28, sampleRate * blockAlign);
  Put16(out + 32, blockAlign);
  Put16(out + 34, 16);
  std::memcpy(out + 36, "data", 4);
  Put32(out + 40, dataBytes);
}

WavWriter::~WavWriter() {
  Abort();
}

namespace {

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

bool WavWriter::Open(const std::string& path, std::uint32_t sampleRate, std::uint64_t frames,
                     std::string& error) {
  Abort();
  const std::uint64_t bytes = frames * 4;
  if (frames > kMaxWavDataBytes / 4) {
    error = path + ": a WAV file cannot hold more than 4 GiB";
    return false;
  }
  path_ = path;
  direct_ = false;
  struct stat st {};
  bool opened = false;
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      error = path + ": is a directory";
      return false;
    }
    if (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) {
      opened = OpenDirect(error);
    } else if (S_ISREG(st.st_mode)) {
      const std::string target = FollowLinks(path);
      if (target.empty() || ::access(target.c_str(), W_OK) != 0) {
        error = path + ": cannot write: " + Reason();
        return false;
      }
      opened = OpenTemporary(target, st.st_mode & 07777, error);
      // Keep the replaced file's owner where we may (as root).
      if (opened && ::fchown(::fileno(file_), st.st_uid, st.st_gid) != 0) {
        // Not permitted: the new file is ours, as any file we create.
      }
    } else {
      error = path + ": not a regular file, character device or FIFO";
      return false;
    }
  } else if (errno == ENOENT) {
    // Absent, or a link to a file still to be made.
    const std::string target = FollowLinks(path);
    if (target.empty()) {
      error = path + ": cannot write: " + Reason();
      return false;
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    opened = OpenTemporary(target, 0666 & ~mask, error);
  } else {
    error = path + ": cannot write: " + Reason();
    return false;
  }
  if (!opened) return false;
  expectedBytes_ = bytes;
  writtenBytes_ = 0;
  std::uint8_t header[44];
  MakeWavHeader(header, sampleRate, 2, static_cast<std::uint32_t>(bytes));
  if (std::fwrite(header, 1, sizeof header, file_) != sizeof header) return Fail(error);
  return true;
}

bool WavWriter::OpenDirect(std::string& error) {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    error = path_ + ": cannot write: " + Reason();
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) || ::isatty(fd)) {
    error = path_ + (::isatty(fd) ? ": refusing to write a WAV file to a terminal"
                                  : ": changed while it was being opened");
    ::close(fd);
    return false;
  }
  file_ = ::fdopen(fd, "wb");
  if (!file_) {
    error = path_ + ": cannot write: " + Reason();
    ::close(fd);
    return false;
  }
  direct_ = true;
  return true;
}

bool WavWriter::OpenTemporary(const std::string& target, mode_t mode, std::string& error) {
  RemoveStaleParts(target);
  target_ = target;
  tempPath_ = DirOf(target) + "." + BaseOf(target) + ".part-XXXXXX";
  const int fd = ::mkstemp(tempPath_.data());
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
  return true;
}

// Reports the current errno for the target and drops what was written.
bool WavWriter::Fail(std::string& error) {
  error = path_ + ": cannot write: " + Reason();
  Abort();
  return false;
}

bool WavWriter::Write(const std::uint8_t* data, std::size_t bytes, std::string& error) {
  if (!file_ || writtenBytes_ + bytes > expectedBytes_) {
    error = path_ + ": more data than announced in the header";
    return false;
  }
  if (std::fwrite(data, 1, bytes, file_) != bytes) {
    error = path_ + ": cannot write: " + Reason();
    return false;
  }
  writtenBytes_ += bytes;
  return true;
}

bool WavWriter::Commit(std::string& error) {
  if (!file_) {
    error = path_ + ": not open";
    return false;
  }
  if (writtenBytes_ != expectedBytes_) {
    error = path_ + ": fewer frames written than announced in the header";
    return false;
  }
  // A device or FIFO cannot be synced; its errors show at the flush.
  if (std::fflush(file_) != 0 || (!direct_ && ::fsync(::fileno(file_)) != 0)) return Fail(error);
  const int closed = std::fclose(file_);
  file_ = nullptr;
  if (closed != 0 || (!direct_ && ::rename(tempPath_.c_str(), target_.c_str()) != 0)) {
    return Fail(error);
  }
  tempPath_.clear();
  return true;
}

void WavWriter::Abort() {
  if (file_) {
    const int saved = errno;
    std::fclose(file_);
    file_ = nullptr;
    errno = saved;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
}

}  // namespace kelvane::cli
