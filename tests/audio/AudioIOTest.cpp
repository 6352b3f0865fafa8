// SPDX-License-Identifier: GPL-3.0-or-later
// Format, size and allocation rules shared by both streams, and the device lists.
#include <gtest/gtest.h>

#include "AudioIO.h"
#include "DeviceList.h"
#include "FakeWaveDriver.h"

namespace kelvane {
namespace {

using testing::FakeWaveDriver;

TEST(AudioIO, NewStreamFormatAndBuffers) {
  FakeWaveDriver driver;
  TAudioOut out(&driver);
  const PcmFormat& f = out.PcmFormat();
  EXPECT_EQ(f.formatTag, 1);
  EXPECT_EQ(f.channels, 1);
  EXPECT_EQ(f.bitsPerSample, 16);
  EXPECT_EQ(f.samplesPerSec, 22050u);
  EXPECT_EQ(f.blockAlign, 2);
  EXPECT_EQ(f.avgBytesPerSec, 44100u);
  EXPECT_EQ(f.extraSize, 0);
  EXPECT_EQ(out.BufferSize(), 8192);
  EXPECT_EQ(out.NumBuffers(), 4);
  EXPECT_EQ(out.WaveDevice(), -1);
  EXPECT_FALSE(out.Streaming());
  EXPECT_FALSE(out.Paused());
  EXPECT_TRUE(out.ErrorText().empty());
  for (int i = 0; i < 4; ++i) {
    ASSERT_NE(out.Slot(i).header, nullptr);
    ASSERT_NE(out.Slot(i).data, nullptr);
    EXPECT_EQ(out.Slot(i).header->data, out.Slot(i).data);
    // The whole buffer is writable (ASan checks the bound).
    out.Slot(i).data[8191] = 1;
  }
  TAudioIn in(&driver);
  EXPECT_EQ(in.BufferSize(), 8192);
  EXPECT_EQ(in.FrameRate(), 22050);
}

TEST(AudioIO, BufferSizeIsAtLeast512AndWholeFrames) {
  FakeWaveDriver driver;
  TAudioOut s(&driver);
  s.SetStereo(true);
  s.SetBufferSize(100);
  EXPECT_EQ(s.RequestedSize(), 512);
  EXPECT_EQ(s.BufferSize(), 512);

  s.SetBufferSize(1030);
  EXPECT_EQ(s.BufferSize(), 1028);  // 16-bit stereo: 4 bytes per frame
  s.SetStereo(false);
  EXPECT_EQ(s.BufferSize(), 1030);  // 16-bit mono
  s.SetQuantization(8);
  EXPECT_EQ(s.BufferSize(), 1030);  // 8-bit mono
  // Every aligned size fits the allocation, whatever format changes follow the size.
  s.Slot(0).data[s.BufferSize() - 1] = 0;
}

TEST(AudioIO, NumBuffersAndQuantizationClamp) {
  FakeWaveDriver driver;
  TAudioOut s(&driver);
  s.SetNumBuffers(0);
  EXPECT_EQ(s.NumBuffers(), 2);
  s.SetNumBuffers(7);
  EXPECT_EQ(s.NumBuffers(), 4);
  s.SetQuantization(12);
  EXPECT_EQ(s.Quantization(), 16);
  s.SetQuantization(3);
  EXPECT_EQ(s.Quantization(), 8);
  s.SetQuantization(8);
  EXPECT_EQ(s.Quantization(), 8);
  EXPECT_EQ(s.PcmFormat().blockAlign, 1);
}

TEST(AudioIO, HighRateStereoFormat) {
  FakeWaveDriver driver;
  TAudioOut s(&driver);
  s.SetFrameRate(192000);
  s.SetStereo(true);
  s.SetQuantization(16);
  EXPECT_EQ(s.PcmFormat().blockAlign, 4);
  EXPECT_EQ(s.PcmFormat().avgBytesPerSec, 768000u);
  EXPECT_TRUE(s.Stereo());
}

TEST(AudioIO, GrowingNumBuffersKeepsABufferForEverySlot) {
  FakeWaveDriver driver;
  TAudioOut s(&driver);
  s.SetNumBuffers(2);
  s.SetBufferSize(1024);
  EXPECT_EQ(s.Slot(2).data, nullptr);
  s.SetNumBuffers(4);
  EXPECT_NE(s.Slot(2).data, nullptr);
  EXPECT_NE(s.Slot(3).data, nullptr);
}

class FailingAlloc : public TAudioOut {
 public:
  using TAudioOut::TAudioOut;
  bool failBuffers = false;
  bool failHeaders = false;
  bool RetryHeaders() { return AllocHeaders(); }

 protected:
  uint8_t* NewBuffer(std::size_t bytes) override {
    return failBuffers ? nullptr : TAudioOut::NewBuffer(bytes);
  }
  WaveHeader* NewHeader() override { return failHeaders ? nullptr : TAudioOut::NewHeader(); }
};

TEST(AudioIO, AllocationFailuresLeaveTheirTextsAndNoOpen) {
  FakeWaveDriver driver;
  FailingAlloc s(&driver);
  s.failBuffers = true;
  s.SetBufferSize(4096);
  EXPECT_EQ(s.ErrorText(), "Error allocating wave buffer memory");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.Slot(i).data, nullptr);
  s.OnFillBuffer = [](uint8_t*, int&) { return true; };
  EXPECT_FALSE(s.StartStream());
  EXPECT_FALSE(s.DeviceOpen());
  EXPECT_EQ(driver.Count("open"), 0);  // never hand the device a buffer that does not exist

  s.failHeaders = true;
  EXPECT_FALSE(s.RetryHeaders());
  EXPECT_EQ(s.ErrorText(), "Error allocating wave header memory");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s.Slot(i).header, nullptr);
}

TEST(DeviceList, NamesInDeviceNumberOrderWithAnEntryForEveryDevice) {
  FakeWaveDriver driver;
  driver.outNames = {"pulse", "default", "HDA Intel"};
  driver.failNameAt = 1;
  const auto outs = GetWaveOutDevices(driver);
  ASSERT_EQ(outs.size(), 3u);
  EXPECT_EQ(outs[0], "pulse");
  EXPECT_EQ(outs[1], "Device 1");
  EXPECT_EQ(outs[2], "HDA Intel");
  const auto ins = GetWaveInDevices(driver);
  ASSERT_EQ(ins.size(), 1u);
  EXPECT_EQ(ins[0], "Microphone");
  driver.inNames.clear();
  EXPECT_TRUE(GetWaveInDevices(driver).empty());
}

TEST(DeviceList, FindItemIndexFoldsOnlyAsciiLetters) {
  const std::vector<std::string> list{"pulse", "Default", "Gerät"};
  EXPECT_EQ(FindItemIndex(list, "DEFAULT", 7), 1);
  EXPECT_EQ(FindItemIndex(list, "PULSE", 7), 0);
  EXPECT_EQ(FindItemIndex(list, "GERäT", 7), 2);
  EXPECT_EQ(FindItemIndex(list, "GERÄT", 0), 0);  // Ä is not folded: the saved position wins
  EXPECT_EQ(FindItemIndex(list, "missing", 5), 5);
}

}  // namespace
}  // namespace kelvane
