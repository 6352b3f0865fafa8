// SPDX-License-Identifier: GPL-3.0-or-later
// The streams on a real sound server: bit-exact playback and capture, and a server that dies.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AudioIO.h"
#include "DeviceList.h"
#include "SoundServer.h"

namespace kelvane {
namespace {

using namespace std::chrono_literals;
using testing::ReadBytes;
using testing::SoundServerDir;
using testing::StartProcess;
using testing::WaitProcess;

struct Frame {
  int16_t l, r;
  bool operator==(const Frame&) const = default;
};

// A signal that never repeats within a test, different on the two channels, so that the
// alignment is unique and a swap of channels shows.
std::vector<Frame> NoiseSignal(std::size_t frames, uint32_t seed) {
  std::vector<Frame> s(frames);
  uint32_t x = seed;
  for (auto& f : s) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    f.l = static_cast<int16_t>(x & 0xFFFF);
    f.r = static_cast<int16_t>(x >> 16);
  }
  return s;
}

std::vector<Frame> AsFrames(const std::vector<char>& bytes) {
  std::vector<Frame> f(bytes.size() / sizeof(Frame));
  std::memcpy(f.data(), bytes.data(), f.size() * sizeof(Frame));
  return f;
}

// Index in `rec` where `sig` starts (matching its first 64 frames), or -1.
long FindStart(const std::vector<Frame>& rec, const std::vector<Frame>& sig) {
  const std::size_t probe = 64;
  for (std::size_t i = 0; i + probe <= rec.size(); ++i) {
    if (rec[i] == sig[0] && std::equal(sig.begin(), sig.begin() + probe, rec.begin() + i)) {
      return static_cast<long>(i);
    }
  }
  return -1;
}

// Compares the whole signal with the recording from its start; returns a description of the
// first difference, or "" when every frame matches.
std::string Compare(const std::vector<Frame>& rec, const std::vector<Frame>& sig) {
  const long start = FindStart(rec, sig);
  if (start < 0) return "signal not found in the recording";
  if (rec.size() - static_cast<std::size_t>(start) < sig.size()) return "recording too short";
  for (std::size_t i = 0; i < sig.size(); ++i) {
    const Frame& r = rec[static_cast<std::size_t>(start) + i];
    if (!(r == sig[i])) {
      return "frame " + std::to_string(i) + " differs: got (" + std::to_string(r.l) + "," +
             std::to_string(r.r) + ") expected (" + std::to_string(sig[i].l) + "," +
             std::to_string(sig[i].r) + ")";
    }
  }
  return "";
}

// Bytes of a 100 ms buffer at this rate, rounded up to a power of two as a run would.
int BufferFor(int rate) {
  const int target = 100 * 4 * rate / 1000;
  int b = 512;
  while (b < target) b *= 2;
  return b;
}

void Pump(TAudioIO& a, TAudioIO* b = nullptr, int timeoutMs = 50) {
  pollfd fds[2] = {{a.NoticeFd(), POLLIN, 0}, {b != nullptr ? b->NoticeFd() : -1, POLLIN, 0}};
  ::poll(fds, b != nullptr ? 2 : 1, timeoutMs);
  a.ProcessNotices();
  if (b != nullptr) b->ProcessNotices();
}

class Playback : public ::testing::TestWithParam<int> {};

TEST_P(Playback, SinkReceivesEverySampleUnchanged) {
  const std::string dir = SoundServerDir();
  if (dir.empty()) GTEST_SKIP() << "needs the private sound server (run through ctest)";
  const int rate = GetParam();
  const auto signal = NoiseSignal(static_cast<std::size_t>(rate), 0x9E3779B9u + rate);
  const std::string file = dir + "/playback-" + std::to_string(rate) + ".raw";
  const pid_t rec = StartProcess(
      {"parec", "--raw", "--format=s16le", "--channels=2", "--rate=" + std::to_string(rate),
       "--latency-msec=100", "-d", "kelvane_a.monitor"},
      file);
  ASSERT_GT(rec, 0);
  ASSERT_TRUE(testing::WaitForGrowth(file, 0, 5s)) << "parec records nothing";

  TAudioOut out;
  out.SetFrameRate(rate);
  out.SetStereo(true);
  out.SetBufferSize(BufferFor(rate));
  std::size_t pos = 0;
  int signalBuffers = 0;
  out.OnFillBuffer = [&](uint8_t* buffer, int& size) {
    const std::size_t frames = static_cast<std::size_t>(size) / 4;
    std::memset(buffer, 0, static_cast<std::size_t>(size));
    if (pos < signal.size()) {
      const std::size_t n = std::min(frames, signal.size() - pos);
      std::memcpy(buffer, signal.data() + pos, n * 4);
      pos += n;
      ++signalBuffers;
    }
    return true;
  };
  out.SetPaused(true);
  ASSERT_TRUE(out.StartStream()) << out.ErrorText();
  out.SetPaused(false);
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  // Silence after the signal pushes all of it through the device's and the server's buffers.
  while (pos < signal.size() || out.DoneCount() < signalBuffers + 6) {
    Pump(out);
    ASSERT_TRUE(out.DeviceOpen()) << out.ErrorText();
    ASSERT_LT(std::chrono::steady_clock::now(), deadline);
  }
  const uint64_t underruns = out.Underruns();
  out.Abort();
  std::this_thread::sleep_for(300ms);
  kill(rec, SIGINT);
  WaitProcess(rec, 5s);

  const auto recorded = AsFrames(ReadBytes(file));
  EXPECT_EQ(Compare(recorded, signal), "") << underruns << " underruns";
}

INSTANTIATE_TEST_SUITE_P(Rates, Playback, ::testing::Values(44100, 48000, 96000, 192000));

TEST(Capture, RecordsASignalPlayedIntoTheOtherSinkWithoutLoss) {
  const std::string dir = SoundServerDir();
  if (dir.empty()) GTEST_SKIP() << "needs the private sound server (run through ctest)";
  for (int rate : {48000, 192000}) {
    SCOPED_TRACE(rate);
    const auto signal = NoiseSignal(static_cast<std::size_t>(rate), 0x51ED270Bu + rate);
    const std::string file = dir + "/capture-" + std::to_string(rate) + ".raw";
    {
      std::ofstream f(file, std::ios::binary);
      f.write(reinterpret_cast<const char*>(signal.data()),
              static_cast<std::streamsize>(signal.size() * sizeof(Frame)));
    }
    TAudioIn in;
    in.SetFrameRate(rate);
    in.SetStereo(true);
    in.SetBufferSize(BufferFor(rate));
    std::vector<Frame> got;
    got.reserve(static_cast<std::size_t>(rate) * 4);
    in.OnBufferFilled = [&](uint8_t* buffer, int& size) {
      const auto* f = reinterpret_cast<const Frame*>(buffer);
      got.insert(got.end(), f, f + size / 4);
      return true;
    };
    ASSERT_TRUE(in.StartStream()) << in.ErrorText();
    for (int i = 0; i < 6; ++i) Pump(in);
    const pid_t play =
        StartProcess({"pacat", "--playback", "--raw", "--format=s16le", "--channels=2",
                      "--rate=" + std::to_string(rate), "-d", "kelvane_b", file});
    ASSERT_GT(play, 0);
    const auto deadline = std::chrono::steady_clock::now() + 15s;
    int status = 0;
    while (waitpid(play, &status, WNOHANG) == 0) {
      Pump(in);
      ASSERT_TRUE(in.DeviceOpen()) << in.ErrorText();
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    }
    const auto tail = std::chrono::steady_clock::now() + 800ms;
    while (std::chrono::steady_clock::now() < tail) Pump(in);
    EXPECT_EQ(in.Overruns(), 0u);
    in.Abort();
    EXPECT_EQ(Compare(got, signal), "");
  }
}

TEST(Devices, ListsTheServerDevicesAndOpensTheDefault) {
  if (SoundServerDir().empty()) GTEST_SKIP() << "needs the private sound server";
  const auto outs = GetWaveOutDevices();
  const auto ins = GetWaveInDevices();
  EXPECT_NE(FindItemIndex(outs, "default", -1), -1);
  EXPECT_NE(FindItemIndex(ins, "pulse", -1), -1);
  TAudioOut out;
  out.SetWaveDevice(FindItemIndex(outs, "pulse", -1));
  out.SetFrameRate(48000);
  out.SetStereo(true);
  out.SetBufferSize(16384);
  out.OnFillBuffer = [](uint8_t* b, int& size) {
    std::memset(b, 0, static_cast<std::size_t>(size));
    return true;
  };
  ASSERT_TRUE(out.StartStream()) << out.ErrorText();
  for (int i = 0; i < 10; ++i) Pump(out);
  EXPECT_TRUE(out.DeviceOpen());
  const auto t0 = std::chrono::steady_clock::now();
  out.Abort();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);  // an abort, not a drain
  out.SetWaveDevice(static_cast<int>(outs.size()));
  EXPECT_FALSE(out.StartStream());
  EXPECT_FALSE(out.ErrorText().empty());
}

// Runs against a server of its own, which it kills halfway.
TEST(ServerKilled, BothStreamsCloseWithAnErrorWithinSeconds) {
  if (SoundServerDir().empty()) GTEST_SKIP() << "needs the private sound server";
  const pid_t server = testing::SoundServerPid();
  ASSERT_GT(server, 0);
  TAudioOut out;
  TAudioIn in;
  for (TAudioIO* s : {static_cast<TAudioIO*>(&out), static_cast<TAudioIO*>(&in)}) {
    s->SetFrameRate(192000);
    s->SetStereo(true);
    s->SetBufferSize(65536);
  }
  out.OnFillBuffer = [](uint8_t* b, int& size) {
    std::memset(b, 0, static_cast<std::size_t>(size));
    return true;
  };
  ASSERT_TRUE(in.StartStream()) << in.ErrorText();
  ASSERT_TRUE(out.StartStream()) << out.ErrorText();
  const auto run = std::chrono::steady_clock::now() + 700ms;
  while (std::chrono::steady_clock::now() < run) Pump(out, &in, 100);
  ASSERT_TRUE(out.DeviceOpen());
  ASSERT_TRUE(in.DeviceOpen());

  ASSERT_EQ(kill(server, SIGKILL), 0);
  const auto killed = std::chrono::steady_clock::now();
  while ((out.DeviceOpen() || in.DeviceOpen()) && std::chrono::steady_clock::now() - killed < 10s) {
    Pump(out, &in, 100);
    out.CheckDevice();
    in.CheckDevice();
  }
  const auto took = std::chrono::steady_clock::now() - killed;
  EXPECT_LT(took, 5s);
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(in.DeviceOpen());
  EXPECT_TRUE(out.DeviceFailed());
  EXPECT_TRUE(in.DeviceFailed());
  EXPECT_FALSE(out.ErrorText().empty());
  EXPECT_FALSE(in.ErrorText().empty());
  std::printf(
      "streams closed %lld ms after the server died: \"%s\" / \"%s\"\n",
      static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
      out.ErrorText().c_str(), in.ErrorText().c_str());
}

}  // namespace
}  // namespace kelvane
