// SPDX-License-Identifier: GPL-3.0-or-later
// Capture stream against the scripted device: counters, states, failures, delivery.
#include <gtest/gtest.h>

#include "AudioIO.h"
#include "FakeWaveDriver.h"

namespace kelvane {
namespace {

using testing::FakeWaveDriver;

class AudioInTest : public ::testing::Test {
 protected:
  AudioInTest() : in(&driver) {
    in.SetFrameRate(192000);
    in.SetStereo(true);
    in.SetBufferSize(65536);
    in.OnBufferFilled = [this](uint8_t* buffer, int& size) {
      sizes.push_back(size);
      firstBytes.push_back(buffer[0]);
      size = 4;  // a handler's change of the size is of no consequence
      return deliverResult;
    };
  }
  // The device records `n` buffers (only 100 bytes of each are reported as recorded).
  void Record(int n) {
    for (int i = 0; i < n; ++i) {
      driver.Complete(1, 100);
      in.ProcessNotices();
    }
  }

  FakeWaveDriver driver;
  TAudioIn in;
  std::vector<int> sizes;
  std::vector<uint8_t> firstBytes;
  bool deliverResult = true;
};

TEST_F(AudioInTest, StartsRecordingBeforeAddingEveryBuffer) {
  ASSERT_TRUE(in.StartStream());
  EXPECT_LT(driver.IndexOf("start"), driver.IndexOf("add"));
  EXPECT_EQ(driver.Count("add"), 4);
  EXPECT_EQ(in.InFlight(), 4);
  EXPECT_EQ(in.FilledCount(), 0);
  EXPECT_TRUE(in.Streaming());
  EXPECT_EQ(driver.openedBlockBytes, 65536u);
}

TEST_F(AudioInTest, DeliversTheFullAlignedSizeAndRequeues) {
  ASSERT_TRUE(in.StartStream());
  Record(5);
  ASSERT_EQ(sizes.size(), 5u);
  for (int s : sizes) EXPECT_EQ(s, 65536);  // 16384 frames, never the recorded count
  EXPECT_EQ(in.FilledCount(), 5);
  EXPECT_EQ(in.DoneCount(), 5);
  EXPECT_EQ(in.InFlight(), 4);
  EXPECT_EQ(driver.Count("add"), 9);
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{0, 1, 2, 3, 4}));
}

TEST_F(AudioInTest, UnsetHandlerRequeuesWithoutEnd) {
  in.OnBufferFilled = nullptr;
  ASSERT_TRUE(in.StartStream());
  for (int i = 0; i < 10; ++i) Record(1);
  EXPECT_EQ(in.FilledCount(), 10);
  EXPECT_EQ(in.InFlight(), 4);
  EXPECT_TRUE(in.DeviceOpen());
}

TEST_F(AudioInTest, EachNoticeDeliversTheBufferItNames) {
  ASSERT_TRUE(in.StartStream());
  deliverResult = false;
  Record(1);  // buffer 0 is refused and stays out
  deliverResult = true;
  Record(1);
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{0, 1}));
  EXPECT_EQ(in.InFlight(), 3);
  Record(3);
  EXPECT_EQ(firstBytes, (std::vector<uint8_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(in.InFlight(), 3);
}

TEST_F(AudioInTest, FinishDeliversNothingAndTheFourthNoticeCloses) {
  ASSERT_TRUE(in.StartStream());
  in.Finish();
  Record(3);
  EXPECT_TRUE(sizes.empty());
  EXPECT_TRUE(in.DeviceOpen());
  Record(1);
  EXPECT_TRUE(sizes.empty());
  EXPECT_FALSE(in.DeviceOpen());
  EXPECT_FALSE(in.Streaming());
  EXPECT_EQ(driver.Count("close"), 1);
}

TEST_F(AudioInTest, AbortIgnoresTheNoticesOfReturnedBuffers) {
  ASSERT_TRUE(in.StartStream());
  Record(1);
  in.Abort();
  EXPECT_FALSE(in.DeviceOpen());
  EXPECT_FALSE(in.Streaming());
  in.ProcessNotices();
  EXPECT_EQ(sizes.size(), 1u);
  EXPECT_EQ(in.DoneCount(), 1);
  EXPECT_GE(driver.Count("reset"), 1);
}

TEST_F(AudioInTest, SecondOpenFailsAndLeavesTheStreamRecording) {
  ASSERT_TRUE(in.StartStream());
  EXPECT_FALSE(in.OpenDevice());
  EXPECT_EQ(in.ErrorText(), "Wave Input device is already open");
  EXPECT_TRUE(in.DeviceOpen());
  Record(1);
  EXPECT_EQ(in.FilledCount(), 1);
}

TEST_F(AudioInTest, FailureTable) {
  driver.openResult = wave::Allocated;
  EXPECT_FALSE(in.StartStream());
  EXPECT_EQ(in.ErrorText(), "fake error 4");
  EXPECT_FALSE(in.DeviceOpen());

  driver.openResult = wave::NoError;
  driver.failPrepareAt = 0;
  EXPECT_FALSE(in.StartStream());
  EXPECT_EQ(in.ErrorText(), "fake error 11");
  EXPECT_FALSE(in.DeviceOpen());

  driver.failPrepareAt = -1;
  driver.startResult = wave::NoDriver;
  EXPECT_FALSE(in.StartStream());
  EXPECT_EQ(in.ErrorText(), "Error starting wave record: fake error 6");
  EXPECT_FALSE(in.DeviceOpen());

  driver.startResult = wave::NoError;
  driver.failAddAt = driver.addCalls + 2;
  EXPECT_FALSE(in.StartStream());
  EXPECT_EQ(in.ErrorText(), "fake error 11");
  EXPECT_FALSE(in.DeviceOpen());
  EXPECT_EQ(driver.Count("close"), 3);
}

TEST_F(AudioInTest, LaterAddFailureDrains) {
  ASSERT_TRUE(in.StartStream());
  driver.failAddAt = driver.addCalls;
  Record(1);
  EXPECT_FALSE(in.KeepGoing());
  EXPECT_EQ(in.InFlight(), 3);
  EXPECT_TRUE(in.DeviceOpen());
  Record(3);
  EXPECT_EQ(sizes.size(), 1u);
  EXPECT_FALSE(in.DeviceOpen());
}

}  // namespace
}  // namespace kelvane
