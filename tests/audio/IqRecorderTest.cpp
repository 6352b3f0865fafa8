// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's hand-off between the run's owner thread and its writer thread (also built
// under ThreadSanitizer): what is pushed is what the file holds, and a writer that fails or
// falls behind stops the recording with a reason while PushFrames goes on returning at once.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "IqRecorder.h"
#include "TempDir.h"

namespace kelvane {
namespace {

using kelvane::testing::ReadFile;
using kelvane::testing::TempDir;

// A block of `n` frames whose samples count on from `from`.
std::vector<std::uint8_t> Block(std::size_t n, std::uint32_t from) {
  std::vector<std::uint8_t> b(n * 4);
  for (std::size_t k = 0; k < n * 2; ++k) {
    const auto v = static_cast<std::uint16_t>(from * 2 + k);
    b[2 * k] = static_cast<std::uint8_t>(v);
    b[2 * k + 1] = static_cast<std::uint8_t>(v >> 8);
  }
  return b;
}

IqMetadata Meta(int rate) {
  IqMetadata m;
  m.sampleRate = rate;
  return m;
}

TEST(IqRecorder, TheFileHoldsExactlyThePushedBlocks) {
  TempDir tmp;
  IqRecorder rec;
  std::string error;
  ASSERT_TRUE(rec.Start(tmp / "r.wav", IqFormat::Wav, Meta(48000), error)) << error;
  EXPECT_TRUE(rec.Recording());
  std::string expected;
  constexpr std::size_t kBlock = 4800;  // 0.1 s: the writer drains while blocks come in
  for (std::uint32_t b = 0; b < 30; ++b) {
    const auto block = Block(kBlock, b * kBlock);
    rec.PushFrames(block.data(), kBlock);
    expected.append(block.begin(), block.end());
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(rec.Stop(error)) << error;
  EXPECT_FALSE(rec.Recording());
  EXPECT_EQ(rec.FramesRecorded(), 30 * kBlock);
  const std::string file = ReadFile(tmp / "r.wav");
  ASSERT_EQ(file.size(), 80 + expected.size());  // the header of a length found at the end
  EXPECT_EQ(rec.BytesWritten(), file.size());
  EXPECT_EQ(file.substr(0, 4), "RIFF");
  EXPECT_TRUE(file.substr(80) == expected);
  // Frames pushed after the stop go nowhere.
  const auto late = Block(10, 0);
  rec.PushFrames(late.data(), 10);
  EXPECT_EQ(ReadFile(tmp / "r.wav").size(), file.size());
}

// /dev/full: every write fails. The recording stops with the disk's reason; pushing ten
// seconds more (past the four-second queue) still returns, and nothing is left of the file.
TEST(IqRecorder, AFailingDiskStopsTheRecordingNotThePusher) {
  IqRecorder rec;
  std::string error;
  ASSERT_TRUE(rec.Start("/dev/full", IqFormat::Raw, Meta(48000), error)) << error;
  const auto block = Block(4800, 0);
  for (int b = 0; b < 100 && rec.Recording(); ++b) {
    rec.PushFrames(block.data(), 4800);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_FALSE(rec.Recording());
  for (int b = 0; b < 100; ++b) rec.PushFrames(block.data(), 4800);
  EXPECT_EQ(rec.Failure(),
            "the disk is full; the recording stopped at 0.0 s: /dev/full: cannot write: " +
                std::string(std::strerror(ENOSPC)));
  EXPECT_FALSE(rec.Stop(error));
  EXPECT_EQ(error, rec.Failure());
}

// A writer stuck on a FIFO that nobody reads: the queue fills, the recording stops where it
// did, and once the reader comes the file holds exactly the frames before that point.
TEST(IqRecorder, AWriterThatFallsBehindEndsTheRecordingWhereTheQueueFilled) {
  TempDir tmp;
  const std::string fifo = tmp / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int readFd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(readFd, 0);
  IqRecorder rec;
  std::string error;
  ASSERT_TRUE(rec.Start(fifo, IqFormat::Raw, Meta(8000), error)) << error;
  std::string pushed;
  std::uint32_t at = 0;
  for (int b = 0; b < 100; ++b) {  // 10 s at 8000 Hz, the queue holds 4 s
    const auto block = Block(800, at);
    rec.PushFrames(block.data(), 800);
    pushed.append(block.begin(), block.end());
    at += 800;
  }
  EXPECT_FALSE(rec.Recording());
  ::fcntl(readFd, F_SETFL, 0);
  std::string received;
  std::thread reader([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(readFd, buf, sizeof buf)) > 0;) {
      received.append(buf, static_cast<std::size_t>(n));
    }
  });
  EXPECT_FALSE(rec.Stop(error));
  reader.join();
  ::close(readFd);
  const std::uint64_t frames = rec.FramesRecorded();
  EXPECT_GE(frames, 4u * 8000 - 800);        // a full queue, less the block that did not fit
  EXPECT_LE(frames, 4u * 8000 + 65536 / 4);  // ... plus what the FIFO took
  ASSERT_EQ(received.size(), frames * 4);
  EXPECT_TRUE(received == pushed.substr(0, received.size()));
  char when[32];
  std::snprintf(when, sizeof when, "%.1f s", static_cast<double>(frames) / 8000);
  EXPECT_EQ(error, std::string("the disk could not keep up; the recording stopped at ") + when);
}

}  // namespace
}  // namespace kelvane
