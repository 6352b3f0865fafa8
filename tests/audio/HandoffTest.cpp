// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-off between a real second thread playing the device's callback role and the owner.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "AudioIO.h"
#include "WaveQueue.h"

namespace kelvane {
namespace {

// Calls its client once per period from its own thread, like PortAudio's callback thread.
class ThreadClock final : public BlockClock {
 public:
  ThreadClock(BlockClient& client, bool output, std::size_t blockBytes, unsigned* seq,
              std::vector<uint32_t>* received, int* torn)
      : client_(client),
        output_(output),
        block_(blockBytes),
        seq_(seq),
        received_(*received),
        torn_(*torn) {}
  ~ThreadClock() override { Abort(); }
  WaveResult Start() override {
    stop_.store(false);
    thread_ = std::thread([this] { Loop(); });
    return wave::NoError;
  }
  void Abort() override {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  bool Active() override { return !stop_.load(); }

 private:
  void Loop() {
    while (!stop_.load()) {
      if (output_) {
        client_.RenderBlock(block_.data(), block_.size());
        uint32_t seq = 0;
        std::memcpy(&seq, block_.data(), 4);
        for (std::size_t i = 4; i < block_.size(); ++i) {
          if (block_[i] != static_cast<uint8_t>(seq)) {
            ++torn_;
            break;
          }
        }
        if (received_.size() < received_.capacity()) received_.push_back(seq);
      } else {
        const uint32_t seq = ++*seq_;
        std::memcpy(block_.data(), &seq, 4);
        std::memset(block_.data() + 4, static_cast<uint8_t>(seq), block_.size() - 4);
        client_.CaptureBlock(block_.data(), block_.size());
      }
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  }

  BlockClient& client_;
  bool output_;
  std::vector<uint8_t> block_;
  unsigned* seq_;
  std::vector<uint32_t>& received_;
  int& torn_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

class ThreadDriver final : public WaveDriver, public BlockClockFactory {
 public:
  int OutDeviceCount() override { return 1; }
  int InDeviceCount() override { return 1; }
  WaveResult OutDeviceName(int, std::string& n) override { return n = "thread", wave::NoError; }
  WaveResult InDeviceName(int, std::string& n) override { return n = "thread", wave::NoError; }
  WaveResult OpenOut(std::unique_ptr<WaveOutDevice>& out, unsigned, const PcmFormat& format,
                     uint32_t blockBytes, int fd) override {
    output_ = true;
    block_ = blockBytes;
    auto dev = std::make_unique<QueuedWaveOut>(format, fd, blockBytes);
    if (WaveResult r = dev->Attach(*this); r != wave::NoError) return r;
    out = std::move(dev);
    return wave::NoError;
  }
  WaveResult OpenIn(std::unique_ptr<WaveInDevice>& out, unsigned, const PcmFormat& format,
                    uint32_t blockBytes, int fd) override {
    output_ = false;
    block_ = blockBytes;
    auto dev = std::make_unique<QueuedWaveIn>(format, fd, blockBytes);
    if (WaveResult r = dev->Attach(*this); r != wave::NoError) return r;
    out = std::move(dev);
    return wave::NoError;
  }
  WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& client) override {
    received.reserve(100000);
    out = std::make_unique<ThreadClock>(client, output_, block_, &seq_, &received, &torn);

    return wave::NoError;
  }
  // What the output side received, kept here since the clock dies with its device: the
  // sequence number of each block (0 for silence) and the blocks not all of one buffer.
  std::vector<uint32_t> received;
  int torn = 0;

 private:
  bool output_ = true;
  std::size_t block_ = 0;
  unsigned seq_ = 0;
};

void WaitForNotice(int fd) {
  pollfd p{fd, POLLIN, 0};
  ::poll(&p, 1, 100);
}

TEST(Handoff, PlaybackDeliversEveryBufferOnceInOrderAndCountsUnderruns) {
  ThreadDriver driver;
  TAudioOut out(&driver);
  out.SetFrameRate(48000);
  out.SetStereo(true);
  out.SetBufferSize(1024);
  uint32_t seq = 0;
  out.OnFillBuffer = [&](uint8_t* buffer, int& size) {
    ++seq;
    std::memcpy(buffer, &seq, 4);
    std::memset(buffer + 4, static_cast<uint8_t>(seq), static_cast<std::size_t>(size) - 4);
    if (seq % 97 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));  // late owner
    return true;
  };
  out.SetPaused(true);
  ASSERT_TRUE(out.StartStream());
  out.SetPaused(false);
  while (out.DoneCount() < 600) {
    WaitForNotice(out.NoticeFd());
    out.ProcessNotices();
    ASSERT_TRUE(out.DeviceOpen()) << out.ErrorText();
  }
  const uint64_t underruns = out.Underruns();
  out.Abort();  // joins the clock thread: its records are now safe to read

  EXPECT_EQ(driver.torn, 0);
  uint32_t expected = 1;
  uint64_t gaps = 0;  // runs of silence with sound after them
  bool silent = false;
  for (uint32_t s : driver.received) {
    if (s == 0) {
      silent = true;
      continue;
    }
    if (silent) ++gaps;
    silent = false;
    ASSERT_EQ(s, expected) << "buffers out of order or lost";
    ++expected;
  }
  EXPECT_GE(expected - 1, 600u);
  EXPECT_GT(gaps, 0u) << "the late owner never let the device run dry";
  EXPECT_EQ(gaps, underruns);
}

TEST(Handoff, CaptureDeliversEveryRecordedBlockOrCountsItDropped) {
  ThreadDriver driver;
  TAudioIn in(&driver);
  in.SetFrameRate(48000);
  in.SetStereo(true);
  in.SetBufferSize(1024);
  std::vector<uint32_t> got;
  got.reserve(10000);
  int torn = 0;
  in.OnBufferFilled = [&](uint8_t* buffer, int& size) {
    uint32_t s = 0;
    std::memcpy(&s, buffer, 4);
    for (int i = 4; i < size; ++i) {
      if (buffer[i] != static_cast<uint8_t>(s)) {
        ++torn;
        break;
      }
    }
    got.push_back(s);
    if (got.size() % 89 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
  };
  ASSERT_TRUE(in.StartStream());
  while (got.size() < 600) {
    WaitForNotice(in.NoticeFd());
    in.ProcessNotices();
    ASSERT_TRUE(in.DeviceOpen()) << in.ErrorText();
  }
  in.Abort();
  const uint64_t dropped = in.Overruns();
  EXPECT_EQ(torn, 0);
  uint64_t gaps = got.front() - 1;
  for (std::size_t i = 1; i < got.size(); ++i) {
    ASSERT_GT(got[i], got[i - 1]);
    gaps += got[i] - got[i - 1] - 1;
  }
  EXPECT_EQ(gaps, dropped);
}

TEST(Handoff, ResetReturnsEveryQueuedBufferAtOnceInOrder) {
  ThreadDriver driver;
  PcmFormat format{1, 2, 48000, 192000, 4, 16, 0};
  QueuedWaveOut dev(format, -1, 64);
  ASSERT_EQ(dev.Attach(driver), wave::NoError);
  std::vector<uint8_t> data(3 * 64);
  WaveHeader h[3];
  dev.Pause();
  for (int i = 0; i < 3; ++i) {
    h[i].data = data.data() + 64 * i;
    h[i].bufferLength = 64;
    ASSERT_EQ(dev.Write(h[i]), wave::Unprepared);
    ASSERT_EQ(dev.Prepare(h[i]), wave::NoError);
    ASSERT_EQ(dev.Write(h[i]), wave::NoError);
  }
  EXPECT_EQ(dev.TakeDone(), nullptr);
  dev.Reset();
  for (int i = 0; i < 3; ++i) {
    WaveHeader* back = dev.TakeDone();
    ASSERT_EQ(back, &h[i]);
    EXPECT_NE(back->flags & WhdrDone, 0u);
  }
  EXPECT_EQ(dev.TakeDone(), nullptr);
}

// A clock the test drives itself: it calls the client from the test's own thread.
class StoppingClock final : public BlockClock, public BlockClockFactory {
 public:
  WaveResult Start() override { return startResult; }
  void Abort() override {}
  bool Active() override { return active; }
  WaveResult Create(std::unique_ptr<BlockClock>& out, BlockClient& c) override {
    client = &c;
    out = std::make_unique<Proxy>(*this);
    return wave::NoError;
  }
  struct Proxy final : BlockClock {
    explicit Proxy(StoppingClock& o) : owner(o) {}
    WaveResult Start() override { return owner.Start(); }
    void Abort() override {}
    bool Active() override { return owner.Active(); }
    StoppingClock& owner;
  };
  bool active = true;
  WaveResult startResult = wave::NoError;
  BlockClient* client = nullptr;
};

TEST(Handoff, ADeviceThatStopsOrFallsSilentIsReported) {
  PcmFormat format{1, 2, 48000, 192000, 4, 16, 0};
  {
    StoppingClock clock;
    QueuedWaveIn dev(format, -1, 1024);
    ASSERT_EQ(dev.Attach(clock), wave::NoError);
    ASSERT_EQ(dev.Start(), wave::NoError);
    EXPECT_EQ(dev.Health(), wave::NoError);
    clock.active = false;  // the stream stopped by itself
    EXPECT_EQ(dev.Health(), wave::DeviceLost);
  }
  {
    StoppingClock clock;
    QueuedWaveIn dev(format, -1, 1024);
    ASSERT_EQ(dev.Attach(clock), wave::NoError);
    ASSERT_EQ(dev.Start(), wave::NoError);
    clock.client->ClockFinished();  // the finished notice of the device
    EXPECT_EQ(dev.Health(), wave::DeviceLost);
  }
  {
    // Still "active" but no block for over two seconds: a stall.
    StoppingClock clock;
    QueuedWaveIn dev(format, -1, 1024);
    ASSERT_EQ(dev.Attach(clock), wave::NoError);
    ASSERT_EQ(dev.Start(), wave::NoError);
    EXPECT_EQ(dev.Health(), wave::NoError);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    EXPECT_EQ(dev.Health(), wave::DeviceStalled);
  }
}

TEST(Handoff, AStartThatFailsIsReportedAndNothingIsHeldAsPlaying) {
  PcmFormat format{1, 2, 48000, 192000, 4, 16, 0};
  StoppingClock clock;
  clock.startResult = wave::NotEnabled;
  QueuedWaveOut dev(format, -1, 1024);
  ASSERT_EQ(dev.Attach(clock), wave::NoError);
  std::vector<uint8_t> data(1024);
  WaveHeader h;
  h.data = data.data();
  h.bufferLength = 1024;
  dev.Pause();  // queued on a held device, started by the release
  ASSERT_EQ(dev.Prepare(h), wave::NoError);
  ASSERT_EQ(dev.Write(h), wave::NoError);
  EXPECT_EQ(dev.Restart(), wave::NotEnabled);
  EXPECT_EQ(dev.Health(), wave::NotEnabled);  // and the periodic check says so as well
}

TEST(Handoff, FadeOutRampsWhatPlaysToSilenceAndSaysWhenItHasBeenHeard) {
  // 48000 Hz stereo, 64-frame device blocks, one 4096-frame buffer of full-scale sound.
  PcmFormat format{1, 2, 48000, 192000, 4, 16, 0};
  StoppingClock clock;
  QueuedWaveOut dev(format, -1, 256);
  ASSERT_EQ(dev.Attach(clock), wave::NoError);
  std::vector<int16_t> sound(2 * 4096, 20000);
  WaveHeader h;
  h.data = reinterpret_cast<uint8_t*>(sound.data());
  h.bufferLength = 4 * 4096;
  ASSERT_EQ(dev.Prepare(h), wave::NoError);
  ASSERT_EQ(dev.Write(h), wave::NoError);  // starts the clock
  std::vector<int16_t> block(2 * 64);
  auto render = [&] { clock.client->RenderBlock(reinterpret_cast<uint8_t*>(block.data()), 256); };
  render();
  EXPECT_EQ(block[0], 20000);
  EXPECT_FALSE(dev.FadedOut());
  dev.FadeOut(96);  // 2 ms
  render();
  EXPECT_EQ(block[0], 20000);       // gain 1 at the first faded frame
  EXPECT_EQ(block[2 * 48], 10000);  // half way down the raised cosine
  EXPECT_EQ(block[2 * 48 + 1], 10000);
  render();
  EXPECT_GT(block[2 * 31], 0);
  EXPECT_EQ(block[2 * 32], 0);  // from the 96th frame on: silence
  // The silence behind the fade fills what the device holds (here nothing) and 50 ms more.
  int blocks = 3;
  while (!dev.FadedOut() && blocks < 100) {
    render();
    ++blocks;
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](int16_t v) { return v == 0; }));
  }
  EXPECT_EQ(blocks, 1 + (96 + 2400 + 63) / 64);  // the first block that reaches the end
  EXPECT_EQ(dev.Underruns(), 0u);
}

}  // namespace
}  // namespace kelvane
