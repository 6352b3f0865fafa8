// SPDX-License-Identifier: GPL-3.0-or-later
// I/Q recordings: the all-or-nothing file rules, WAV/RF64 headers as a real reader (libsndfile)
// reads them, and render's SigMF, cf32 and raw recordings against its WAV, with full disks and
// unwritable folders.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <vector>

#include "CliRun.h"
#include "IqFileWriter.h"
#include "OutputFile.h"
#include "RenderOutput.h"
#include "SettingsFile.h"
#include "TempDir.h"

namespace kelvane::cli {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;
using kelvane::testing::WriteFile;

std::uint32_t Le32(const std::string& s, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s[at + i]);
  return v;
}
std::uint64_t Le64(const std::string& s, std::size_t at) {
  return static_cast<std::uint64_t>(Le32(s, at + 4)) << 32 | Le32(s, at);
}

// n frames L=k, R=-k-1 (every sample distinct within the block).
std::vector<std::uint8_t> Frames(int n, int from = 0) {
  std::vector<std::uint8_t> b;
  for (int k = from; k < from + n; ++k) {
    for (const int v : {k, -k - 1}) {
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return b;
}

IqMetadata Meta(int rate) {
  IqMetadata m;
  m.sampleRate = rate;
  return m;
}

// What libsndfile makes of a WAV/RF64 file: rate, channels, frames, and the 16-bit samples.
struct Decoded {
  int rate = 0, channels = 0;
  std::int64_t frames = -1;
  std::vector<short> samples;
};
Decoded Decode(const std::string& path) {
  Decoded d;
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (!f) return d;
  d.rate = info.samplerate;
  d.channels = info.channels;
  d.frames = info.frames;
  d.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
  sf_read_short(f, d.samples.data(), static_cast<sf_count_t>(d.samples.size()));
  sf_close(f);
  return d;
}
std::vector<short> Samples(const std::vector<std::uint8_t>& b) {
  std::vector<short> s(b.size() / 2);
  std::memcpy(s.data(), b.data(), b.size());
  return s;
}

TEST(IqFileWriter, AppearsOnlyWhenCompleteUnderItsName) {
  TempDir tmp;
  const std::string path = tmp / "out.wav";
  WriteFile(path, "old");
  const auto data = Frames(100);
  std::string error;
  {
    IqFileWriter w;
    ASSERT_TRUE(w.Open(path, IqFormat::Wav, Meta(48000), 100, error)) << error;
    ASSERT_TRUE(w.Write(data.data(), 50, error));
    EXPECT_FALSE(w.Commit(error));  // half the frames
    EXPECT_EQ(error, path + ": fewer frames written than announced in the header");
  }
  EXPECT_EQ(ReadFile(path), "old");
  {
    IqFileWriter w;
    ASSERT_TRUE(w.Open(path, IqFormat::Wav, Meta(48000), 100, error));
    ASSERT_TRUE(w.Write(data.data(), 100, error));
    EXPECT_FALSE(w.Write(data.data(), 1, error));
    EXPECT_EQ(error, path + ": more data than announced in the header");
    ASSERT_TRUE(w.Commit(error)) << error;
  }
  std::uint8_t header[44];
  MakeWavHeader(header, 48000, 2, 400);
  EXPECT_EQ(ReadFile(path), std::string(reinterpret_cast<char*>(header), 44) +
                                std::string(data.begin(), data.end()));
  // A SigMF recording that is dropped leaves neither file; nothing else is left either.
  {
    IqFileWriter w;
    ASSERT_TRUE(w.Open(tmp / "s.sigmf", IqFormat::SigMF, Meta(48000), -1, error)) << error;
    ASSERT_TRUE(w.Write(data.data(), 100, error));
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
  IqFileWriter noDir;
  EXPECT_FALSE(noDir.Open(path + "/x.wav", IqFormat::Wav, Meta(48000), 1, error));
  EXPECT_EQ(error, path + "/x.wav: cannot write: " + std::strerror(ENOTDIR));
}

// Past the size a plain WAV can describe the file is RF64 (known length: decided at Open;
// unknown length: a JUNK chunk reserves the room and Commit makes it ds64 or leaves it). The
// limit is lowered to 400 bytes so that small files cross it.
TEST(IqFileWriter, Rf64PastTheLimitAsLibsndfileReadsIt) {
  TempDir tmp;
  std::string error;
  for (const bool known : {true, false}) {
    for (const int frames : {100, 101, 1000}) {
      const std::string path = tmp / ("f" + std::to_string(frames) + (known ? "k" : "u") + ".wav");
      const auto data = Frames(frames);
      IqFileWriter w;
      w.SetWavLimit(400);
      ASSERT_TRUE(w.Open(path, IqFormat::Wav, Meta(96000), known ? frames : -1, error)) << error;
      ASSERT_TRUE(w.Write(data.data(), static_cast<std::size_t>(frames), error)) << error;
      ASSERT_TRUE(w.Commit(error)) << error;
      const std::string file = ReadFile(path);
      const bool rf64 = frames * 4 > 400;
      const std::size_t head = known && !rf64 ? 44 : 80;
      ASSERT_EQ(file.size(), head + data.size()) << path;
      EXPECT_EQ(w.BytesWritten(), file.size());
      EXPECT_EQ(file.substr(0, 4), rf64 ? "RF64" : "RIFF") << path;
      if (rf64) {
        EXPECT_EQ(Le32(file, 4), 0xFFFFFFFFu);
        EXPECT_EQ(file.substr(12, 4), "ds64");
        EXPECT_EQ(Le64(file, 20), file.size() - 8);
        EXPECT_EQ(Le64(file, 28), data.size());
        EXPECT_EQ(Le64(file, 36), static_cast<std::uint64_t>(frames));
      } else {
        EXPECT_EQ(Le32(file, 4), file.size() - 8);
      }
      const Decoded d = Decode(path);
      EXPECT_EQ(d.rate, 96000) << path;
      EXPECT_EQ(d.channels, 2);
      EXPECT_EQ(d.frames, frames);
      EXPECT_TRUE(d.samples == Samples(data)) << path;
    }
  }
}

// Leftovers of killed runs for the same target go when the next one starts; a fresh one (a
// run still going) and anything not of exactly our pattern stay.
TEST(IqFileWriter, RemovesOnlyItsOwnStaleParts) {
  TempDir tmp;
  const std::string stale = tmp / ".out.wav.part-Ab9xYz", fresh = tmp / ".out.wav.part-Fresh1";
  const std::vector<std::string> kept = {fresh,
                                         tmp / ".out.wav.part-Ab9xY",
                                         tmp / ".out.wav.part-Ab9xYz1",
                                         tmp / ".other.wav.part-Ab9xYz",
                                         tmp / "out.wav.part-Ab9xYz",
                                         tmp / ".out.wav.part-Ab-xYz"};
  for (const auto& p : kept) WriteFile(p, "x");
  WriteFile(stale, "x");
  std::filesystem::create_directory(tmp / ".out.wav.part-Dir123");
  std::filesystem::create_symlink(stale, tmp / ".out.wav.part-Link12");
  // A minute and a second old, links themselves included.
  const timespec old[2] = {{::time(nullptr) - 61, 0}, {::time(nullptr) - 61, 0}};
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    if (e.path() != fresh) {
      ASSERT_EQ(::utimensat(AT_FDCWD, e.path().c_str(), old, AT_SYMLINK_NOFOLLOW), 0);
    }
  }
  OutputFile f;
  std::string error;
  ASSERT_TRUE(f.Open(tmp / "out.wav", "a WAV file", error)) << error;
  EXPECT_FALSE(std::filesystem::exists(stale));
  for (const auto& p : kept) EXPECT_TRUE(std::filesystem::exists(p)) << p;
  EXPECT_TRUE(std::filesystem::is_directory(tmp / ".out.wav.part-Dir123"));
  EXPECT_TRUE(std::filesystem::is_symlink(tmp / ".out.wav.part-Link12"));
  EXPECT_TRUE(std::filesystem::exists(f.TempPath()));
}

std::string Version(const TempDir& tmp) {
  const std::string out = RunCli(tmp, {"--version"}).out;  // "kelvane-cli X.Y\n"
  return out.substr(out.find(' ') + 1, out.size() - out.find(' ') - 2);
}

// One render in every container: the SigMF metadata describes the recording, the data of
// every container is the WAV's, and cf32 is ci16 / 32768 exactly.
TEST(CliRecording, EveryContainerHoldsTheSameSignalAndSigMFDescribesIt) {
  TempDir tmp;
  const std::vector<std::string> common = {"--seconds",    "0.5",
                                           "--set",        "SamplingRate=2",
                                           "--set",        "SinePeakDev=22.5",
                                           "--set",        "CarrierFreq=1234",
                                           "--start-time", "2026-12-09T14:37:00Z"};
  const auto render = [&](std::vector<std::string> a) {
    a.insert(a.begin(), "render");
    a.insert(a.end(), common.begin(), common.end());
    const RunResult r = RunCli(tmp, a);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    return r;
  };
  render({"-o", tmp / "ref.wav"});
  const std::string ci16 = ReadFile(tmp / "ref.wav").substr(44);
  ASSERT_EQ(ci16.size(), 48000u * 4);

  const RunResult sig = render({"-o", tmp / "rec.sigmf", "--center-frequency", "98.5M"});
  EXPECT_NE(sig.err.find("to " + tmp / "rec.sigmf-data and " + tmp / "rec.sigmf-meta"),
            std::string::npos)
      << sig.err;
  EXPECT_TRUE(ReadFile(tmp / "rec.sigmf-data") == ci16);
  const auto meta = nlohmann::json::parse(ReadFile(tmp / "rec.sigmf-meta"));
  const auto& global = meta.at("global");
  EXPECT_EQ(global.at("core:datatype"), "ci16_le");
  EXPECT_EQ(global.at("core:sample_rate").get<double>(), 96000.0);
  EXPECT_EQ(global.at("core:version"), "1.2.0");
  EXPECT_EQ(global.at("core:recorder"), "kelvane " + Version(tmp));
  EXPECT_FALSE(global.at("core:description").get<std::string>().empty());
  const auto& ext = global.at("core:extensions");
  ASSERT_EQ(ext.size(), 1u);
  EXPECT_EQ(ext[0].at("name"), "kelvane");
  EXPECT_EQ(ext[0].at("optional"), true);
  const auto& settings = global.at("kelvane:settings");
  EXPECT_EQ(settings.size(), SettingsKeys().size());
  for (const auto& key : SettingsKeys()) {
    ASSERT_TRUE(settings.contains(std::string(key.name))) << key.name;
  }
  EXPECT_EQ(settings.at("SinePeakDev"), "22.5");
  EXPECT_EQ(settings.at("CarrierFreq"), "1234");
  EXPECT_EQ(settings.at("SamplingRate"), "2");
  ASSERT_EQ(meta.at("captures").size(), 1u);
  const auto& capture = meta.at("captures")[0];
  EXPECT_EQ(capture.at("core:sample_start"), 0);
  EXPECT_EQ(capture.at("core:datetime"), "2026-12-09T14:37:00Z");
  EXPECT_EQ(capture.at("core:frequency").get<double>(), 98.5e6);
  EXPECT_TRUE(meta.at("annotations").is_array());

  // cf32 in SigMF and raw: each sample / 32768, as float32 little-endian.
  render({"-o", tmp / "f.sigmf-meta", "--format", "sigmf-cf32"});
  render({"-o", tmp / "f.cfile"});
  render({"-o", tmp / "c.iq"});
  const std::string cf32 = ReadFile(tmp / "f.sigmf-data");
  EXPECT_EQ(nlohmann::json::parse(ReadFile(tmp / "f.sigmf-meta"))["global"]["core:datatype"],
            "cf32_le");
  EXPECT_FALSE(nlohmann::json::parse(ReadFile(tmp / "f.sigmf-meta"))["captures"][0].contains(
      "core:frequency"));
  ASSERT_EQ(cf32.size(), ci16.size() * 2);
  EXPECT_TRUE(ReadFile(tmp / "f.cfile") == cf32);
  EXPECT_TRUE(ReadFile(tmp / "c.iq") == ci16);
  std::size_t mismatches = 0;
  for (std::size_t k = 0; k < ci16.size() / 2; ++k) {
    std::int16_t v;
    float f;
    std::memcpy(&v, ci16.data() + 2 * k, 2);
    std::memcpy(&f, cf32.data() + 4 * k, 4);
    if (f != static_cast<float>(v) / 32768.0f || f * 32768.0f != static_cast<float>(v)) {
      ++mismatches;
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

// Entries of a folder other than the captured output.
std::vector<std::string> Left(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name != ".stdout" && name != ".stderr" && name != "config") names.push_back(name);
  }
  return names;
}

// A file size limit (as a full disk: the writes fail part way) and a folder we may not write:
// one message, and nothing under the final names or beside them.
TEST(CliRecording, FullDiskAndUnwritableFolderLeaveNothingBehind) {
  TempDir tmp;
  for (const std::string name : {"big.wav", "big.sigmf", "big.cf32"}) {
    ::signal(SIGXFSZ, SIG_IGN);  // inherited: the write fails with EFBIG instead
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1 << 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const RunResult r = RunCli(tmp, {"render", "-o", tmp / name, "--seconds", "3"});
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(r.status, 1) << name;
    const auto lines = r.errLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(": cannot write: " + std::string(std::strerror(EFBIG))),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("Wrote"), std::string::npos) << r.err;
    EXPECT_TRUE(Left(tmp.path()).empty()) << name << ": " << Left(tmp.path())[0];
  }
  // Root may write into a folder without write permission: it gets /proc instead, where
  // nobody may make files.
  const std::string locked = tmp / "locked";
  std::filesystem::create_directory(locked);
  ::chmod(locked.c_str(), 0555);
  const std::string folder = ::access(locked.c_str(), W_OK) == 0 ? "/proc" : locked;
  const RunResult r =
      RunCli(tmp, {"render", "-o", folder + "/kelvane-rec.sigmf", "--seconds", "0.1"});
  EXPECT_EQ(r.status, 1);
  ASSERT_EQ(r.errLines().size(), 1u) << r.err;
  EXPECT_EQ(r.err.rfind("kelvane-cli: " + folder + "/kelvane-rec.sigmf-data: cannot write: ", 0),
            0u)
      << r.err;
  EXPECT_FALSE(std::filesystem::exists(folder + "/kelvane-rec.sigmf-data"));
  EXPECT_FALSE(std::filesystem::exists(folder + "/kelvane-rec.sigmf-meta"));
  ::chmod(locked.c_str(), 0755);
  EXPECT_TRUE(std::filesystem::is_empty(locked));
}

// Standard output without --seconds streams until its reader goes; the progress stays on
// standard error, a line per second when it is no terminal.
TEST(CliRecording, EndlessStreamEndsQuietlyWhenTheReaderCloses) {
  TempDir tmp;
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  std::size_t got = 0;
  constexpr std::size_t kWant = 3 * 48000 * 8;  // three seconds of cf32
  const RunResult r = RunCli(
      tmp, {"render", "-o", "-", "--format", "cf32", "--set", "SamplingRate=1"}, {},
      [&](pid_t) {
        ::close(pipeFds[1]);
        std::vector<char> buf(65536);
        while (got < kWant) {
          const ssize_t n = ::read(pipeFds[0], buf.data(), buf.size());
          if (n <= 0) break;
          got += static_cast<std::size_t>(n);
        }
        ::close(pipeFds[0]);
      },
      pipeFds[1]);
  EXPECT_GE(got, kWant);
  EXPECT_EQ(r.status, 0) << r.err;
  const auto lines = r.errLines();
  ASSERT_GE(lines.size(), 3u) << r.err;
  EXPECT_EQ(lines[0].rfind("Rendering until the reader stops at 48000 Hz", 0), 0u) << lines[0];
  EXPECT_EQ(lines[1].rfind("     1 s  Peak Deviation [kHz]   10.0", 0), 0u) << lines[1];
  EXPECT_NE(lines[1].find("(first minute)"), std::string::npos);
  EXPECT_EQ(r.err.find("kelvane-cli:"), std::string::npos) << r.err;
  // Quiet: nothing at all on standard error.
  const RunResult quiet = RunCli(tmp, {"render", "-o", "-", "--seconds", "2", "-q"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out.size(), 2u * 192000 * 4);
}

// On a terminal the read-outs overwrite one line, and a message after them starts a line of
// its own; -q says nothing.
TEST(Progress, OverwritesOneLineOnATerminal) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const int slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);  // no newline translation: the bytes as written
  ::tcsetattr(slave, TCSANOW, &raw);
  std::fflush(stderr);
  const int saved = ::dup(STDERR_FILENO);
  ::dup2(slave, STDERR_FILENO);
  {
    Progress quiet(true);
    quiet.Note("not shown");
    quiet.Update("not shown");
    Progress p(false);
    p.Note("start");
    p.Update("1 s");
    p.Update("2 s");
    p.Note("done");
  }
  std::fflush(stderr);
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  ::close(slave);
  // Everything is written by now: read what is there, never wait.
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  std::string got;
  char buf[256];
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;) {
    got.append(buf, static_cast<std::size_t>(n));
    if (got.find("done\n") != std::string::npos) break;
  }
  ::close(master);
  EXPECT_EQ(got, "start\n\r1 s\x1b[K\r2 s\x1b[K\ndone\n");
}

}  // namespace
}  // namespace kelvane::cli
