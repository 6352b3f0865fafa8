// SPDX-License-Identifier: GPL-3.0-or-later
// Playback stream against the scripted device: counters, states, failures, notices.
#include <gtest/gtest.h>

#include "AudioIO.h"
#include "FakeWaveDriver.h"

namespace kelvane {
namespace {

using testing::FakeWaveDriver;

class AudioOutTest : public ::testing::Test {
 protected:
  AudioOutTest() : out(&driver) {
    out.SetFrameRate(192000);
    out.SetStereo(true);
    out.SetBufferSize(4096);
    out.OnFillBuffer = [this](uint8_t* buffer, int& size) {
      ++fills;
      offered.push_back(size);
      buffer[0] = static_cast<uint8_t>(fills);
      if (shortenTo > 0) {
        size = shortenTo;
        shortenTo = 0;
      }
      return fillResult;
    };
  }
  // The device plays `n` buffers; the owner's thread then handles the notices.
  void Play(int n) {
    for (int i = 0; i < n; ++i) {
      driver.Complete(1);
      out.ProcessNotices();
    }
  }
  int SlotOf(WaveHeader* h) const {
    for (int i = 0; i < 4; ++i) {
      if (out.Slot(i).header == h) return i;
    }
    return -1;
  }

  FakeWaveDriver driver;
  TAudioOut out;
  int fills = 0;
  std::vector<int> offered;
  bool fillResult = true;
  int shortenTo = 0;
};

TEST_F(AudioOutTest, OpenPrefillsEverySlotBeforeAnyWrite) {
  ASSERT_TRUE(out.OpenDevice());
  EXPECT_EQ(fills, 4);
  EXPECT_EQ(driver.Count("prepare"), 4);
  EXPECT_EQ(driver.Count("write"), 0);
  EXPECT_EQ(out.FilledCount(), 4);
  EXPECT_EQ(out.InFlight(), 4);
  EXPECT_EQ(out.DoneCount(), 0);
  EXPECT_TRUE(out.Streaming());
  EXPECT_TRUE(out.KeepGoing());
  EXPECT_EQ(driver.openedBlockBytes, 4096u);
  EXPECT_EQ(driver.openedDevice, 0xFFFFFFFFu);  // -1: the default device
  EXPECT_EQ(driver.openedFormat.blockAlign, 4);
  for (int size : offered) EXPECT_EQ(size, 4096);
}

TEST_F(AudioOutTest, PausedStartQueuesAllSlotsOnAHeldDevice) {
  out.SetPaused(true);
  ASSERT_TRUE(out.StartStream());
  ASSERT_EQ(driver.writes.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(SlotOf(driver.writes[static_cast<std::size_t>(i)]), i);
  EXPECT_LT(driver.IndexOf("pause"), driver.IndexOf("write"));
  EXPECT_EQ(driver.Count("restart"), 0);
  out.SetPaused(false);
  EXPECT_EQ(driver.Count("restart"), 1);
  EXPECT_EQ(out.NextSlot(), 0);
}

TEST_F(AudioOutTest, DoneNoticeRefillsAndRequeuesTheReturnedSlot) {
  ASSERT_TRUE(out.StartStream());
  Play(1);
  EXPECT_EQ(out.DoneCount(), 1);
  EXPECT_EQ(out.FilledCount(), 5);
  EXPECT_EQ(out.InFlight(), 4);
  ASSERT_EQ(driver.writes.size(), 5u);
  EXPECT_EQ(SlotOf(driver.writes[4]), 0);
  EXPECT_EQ(out.Slot(0).data[0], 5);  // the fifth fill went into slot 0
  EXPECT_EQ(out.Slot(0).header->flags & WhdrDone, 0u);
  Play(6);
  EXPECT_EQ(out.DoneCount(), 7);
  EXPECT_EQ(out.InFlight(), 4);
  EXPECT_EQ(SlotOf(driver.writes.back()), 2);
  EXPECT_TRUE(out.Streaming());
}

TEST_F(AudioOutTest, ShortenedBufferPlaysThatLengthOnce) {
  ASSERT_TRUE(out.StartStream());
  shortenTo = 1000;
  Play(1);
  EXPECT_EQ(driver.writeLengths.back(), 1000u);
  Play(4);  // slot 0 comes round again
  EXPECT_EQ(SlotOf(driver.writes.back()), 0);
  EXPECT_EQ(driver.writeLengths.back(), 4096u);
  EXPECT_EQ(offered.back(), 4096);
}

TEST_F(AudioOutTest, FinishDrainsWithoutFillingAndTheLastNoticeCloses) {
  ASSERT_TRUE(out.StartStream());
  out.Finish();
  EXPECT_FALSE(out.KeepGoing());
  Play(3);
  EXPECT_EQ(fills, 4);
  EXPECT_TRUE(out.DeviceOpen());
  EXPECT_TRUE(out.Streaming());
  EXPECT_EQ(out.InFlight(), 1);
  Play(1);
  EXPECT_EQ(fills, 4);
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(out.Streaming());
  EXPECT_EQ(driver.Count("close"), 1);
  EXPECT_EQ(driver.Count("unprepare"), 4);
}

TEST_F(AudioOutTest, FillReturningFalseLeavesSlotsIdleUntilTheStreamCloses) {
  ASSERT_TRUE(out.StartStream());
  fillResult = false;
  Play(1);
  EXPECT_EQ(out.InFlight(), 3);
  EXPECT_EQ(out.NextSlot(), 0);  // stays on the slot that was not queued again
  EXPECT_EQ(driver.writes.size(), 4u);
  Play(2);
  EXPECT_EQ(out.InFlight(), 1);
  EXPECT_TRUE(out.DeviceOpen());
  Play(1);
  EXPECT_EQ(out.InFlight(), 0);
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(out.KeepGoing());
}

TEST_F(AudioOutTest, AbortIgnoresTheNoticesOfReturnedBuffers) {
  ASSERT_TRUE(out.StartStream());
  Play(2);
  const int filled = out.FilledCount();
  const int doneCount = out.DoneCount();
  out.Abort();
  EXPECT_FALSE(out.Streaming());
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_GT(driver.IndexOf("close"), driver.IndexOf("reset"));
  out.ProcessNotices();
  EXPECT_EQ(out.FilledCount(), filled);
  EXPECT_EQ(out.DoneCount(), doneCount);
  EXPECT_EQ(fills, 6);
  EXPECT_EQ(driver.writes.size(), 6u);
  out.Abort();  // a second abort on a closed stream does nothing
  EXPECT_EQ(driver.Count("close"), 1);
}

TEST_F(AudioOutTest, SecondOpenFailsAndLeavesTheStreamRunning) {
  ASSERT_TRUE(out.StartStream());
  EXPECT_FALSE(out.OpenDevice());
  EXPECT_EQ(out.ErrorText(), "Wave output device is already open");
  EXPECT_TRUE(out.DeviceOpen());
  EXPECT_EQ(out.FilledCount(), 4);
  EXPECT_EQ(driver.Count("open"), 1);
  Play(1);
  EXPECT_EQ(out.DoneCount(), 1);
}

TEST_F(AudioOutTest, BufferSizeCannotChangeUnderAnOpenDevice) {
  ASSERT_TRUE(out.StartStream());
  const uint8_t* held = out.Slot(0).data;
  EXPECT_FALSE(out.SetBufferSize(65536));
  EXPECT_EQ(out.ErrorText(), "The buffer size cannot change while the device is open");
  EXPECT_EQ(out.BufferSize(), 4096);
  EXPECT_EQ(out.RequestedSize(), 4096);
  EXPECT_EQ(out.Slot(0).data, held);  // still the memory the device reads
  Play(4);
  EXPECT_EQ(offered, std::vector<int>(8, 4096));
  out.Abort();
  EXPECT_TRUE(out.SetBufferSize(65536));
  EXPECT_EQ(out.BufferSize(), 65536);
}

TEST_F(AudioOutTest, NoFillCallbackMeansNoStart) {
  out.OnFillBuffer = nullptr;
  EXPECT_FALSE(out.StartStream());
  EXPECT_EQ(out.ErrorText(), "There must be at least one filled buffer");
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(out.Streaming());
  EXPECT_EQ(driver.Count("close"), 1);
  EXPECT_EQ(driver.Count("write"), 0);
}

TEST_F(AudioOutTest, FailureTable) {
  driver.openResult = wave::BadDeviceId;
  EXPECT_FALSE(out.StartStream());
  EXPECT_EQ(out.ErrorText(), "fake error 2");
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_NE(out.Receiver(), nullptr);

  driver.openResult = wave::NoError;
  driver.failPrepareAt = 2;
  EXPECT_FALSE(out.StartStream());
  EXPECT_EQ(out.ErrorText(), "fake error 11");
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_EQ(driver.Count("close"), 1);

  driver.failPrepareAt = -1;
  driver.failWriteAt = 0;
  EXPECT_FALSE(out.StartStream());
  EXPECT_EQ(out.ErrorText(), "fake error 11");
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_EQ(driver.Count("close"), 2);
}

TEST_F(AudioOutTest, LaterWriteFailureDrainsAndStillCloses) {
  ASSERT_TRUE(out.StartStream());
  driver.failWriteAt = driver.writeCalls;  // the refill after the next notice
  Play(1);
  EXPECT_FALSE(out.KeepGoing());
  EXPECT_TRUE(out.DeviceOpen());
  EXPECT_EQ(out.ErrorText(), "fake error 11");
  // The buffer the device never got is not counted: three are in flight, not four.
  EXPECT_EQ(out.FilledCount(), 4);
  EXPECT_EQ(out.InFlight(), 3);
  Play(3);
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(out.Streaming());
}

TEST_F(AudioOutTest, OpenAndCloseNoticesReachTheOwnerWithTheReceiver) {
  std::vector<std::string> events;
  void* sender = nullptr;
  out.OnStart = [&](void* s) {
    events.push_back("start");
    sender = s;
  };
  out.OnStop = [&](void*) { events.push_back("stop"); };
  ASSERT_TRUE(out.StartStream());
  EXPECT_TRUE(events.empty());  // notices arrive through the owner's loop, never inline
  out.ProcessNotices();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(sender, out.Receiver());
  out.Abort();
  out.ProcessNotices();
  EXPECT_EQ(events, (std::vector<std::string>{"start", "stop"}));
}

TEST_F(AudioOutTest, DeviceThatStopsClosesTheStreamWithItsText) {
  bool reported = false;
  out.OnError = [&](void*) { reported = true; };
  ASSERT_TRUE(out.StartStream());
  EXPECT_TRUE(out.CheckDevice());
  driver.health = wave::DeviceLost;
  EXPECT_FALSE(out.CheckDevice());
  EXPECT_TRUE(reported);
  EXPECT_TRUE(out.DeviceFailed());
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_FALSE(out.Streaming());
  EXPECT_EQ(out.ErrorText(), "fake error 36");
  driver.health = wave::NoError;
  ASSERT_TRUE(out.StartStream());  // a new open starts afresh
  EXPECT_FALSE(out.DeviceFailed());
}

}  // namespace
}  // namespace kelvane
