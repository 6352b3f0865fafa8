// SPDX-License-Identifier: GPL-3.0-or-later
// Run control against the scripted device: buffer sizes, the RDS rule, sources, device choice,
// restarts, failures, device loss and the soft end of the output.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "FakeWaveDriver.h"
#include "RunControl.h"

namespace kelvane {
namespace {

using testing::FakeWaveDriver;

class FixedControls final : public ControlSource {
 public:
  FixedControls() {
    snapshot.params = ParamValues::FirstRun();
    snapshot.params[ParamId::CarrierFreq] = 1234.0;
    snapshot.params[ParamId::SineModFreq] = 997.0;
  }
  void ReadControls(ControlSnapshot& out) override {
    out = snapshot;
    ++reads;
  }
  std::size_t ReadPIText(char*, std::size_t) override { return 0; }
  std::size_t ReadPSText(char*, std::size_t) override { return 0; }
  ControlSnapshot snapshot;
  int reads = 0;
};

class RunControlTest : public ::testing::Test {
 protected:
  RunControlTest() : out(&outDriver), in(&inDriver), modulator(controls) {}

  // The device plays `n` output buffers (and records as many input buffers).
  void Play(int n) {
    for (int i = 0; i < n; ++i) {
      outDriver.Complete(1);
      out.ProcessNotices();
      if (in.DeviceOpen()) {
        inDriver.Complete(1, static_cast<uint32_t>(in.BufferSize()));
        in.ProcessNotices();
      }
    }
  }
  FakeWaveDriver outDriver;
  FakeWaveDriver inDriver;
  TAudioOut out;
  TAudioIn in;
  FixedControls controls;
  Modulator modulator;
  RunControl control{modulator, out, in};
  int blocks = 0;
};

RunSettings Sine(int rateIndex, int bufferIndex = 2) {
  RunSettings s;
  s.samplingRateIndex = rateIndex;
  s.bufferLengthIndex = bufferIndex;
  s.sineSource = true;
  s.outputDevice = 0;
  s.inputDevice = 0;
  return s;
}

TEST_F(RunControlTest, StreamsGetTheirDesignedProperties) {
  for (const TAudioIO* s :
       {static_cast<const TAudioIO*>(&out), static_cast<const TAudioIO*>(&in)}) {
    EXPECT_EQ(s->BufferSize(), 32768);
    EXPECT_EQ(s->FrameRate(), 192000);
    EXPECT_TRUE(s->Stereo());
    EXPECT_EQ(s->NumBuffers(), 4);
    EXPECT_EQ(s->Quantization(), 16);
  }
  EXPECT_FALSE(control.Running());
}

TEST_F(RunControlTest, BufferLengthTableReachesBothStreamsAndTheDevice) {
  const int rates[4] = {44100, 48000, 96000, 192000};
  const int expected[5][4] = {{16384, 16384, 32768, 65536},
                              {32768, 32768, 65536, 131072},
                              {65536, 65536, 131072, 262144},
                              {131072, 131072, 262144, 524288},
                              {262144, 262144, 524288, 1048576}};
  for (int b = 0; b < 5; ++b) {
    for (int r = 0; r < 4; ++r) {
      SCOPED_TRACE(::testing::Message() << "buffer " << b << " rate " << rates[r]);
      RunSettings s = Sine(r, b);
      s.sineSource = false;
      const StartResult res = control.Start(s);
      ASSERT_TRUE(res.started);
      EXPECT_EQ(res.frameRate, rates[r]);
      EXPECT_EQ(res.bufferBytes, expected[b][r]);
      EXPECT_EQ(out.BufferSize(), expected[b][r]);
      EXPECT_EQ(in.BufferSize(), expected[b][r]);
      EXPECT_EQ(outDriver.openedBlockBytes, static_cast<uint32_t>(expected[b][r]));
      EXPECT_EQ(inDriver.openedBlockBytes, static_cast<uint32_t>(expected[b][r]));
      EXPECT_EQ(outDriver.openedFormat.samplesPerSec, static_cast<uint32_t>(rates[r]));
      EXPECT_EQ(inDriver.openedFormat.samplesPerSec, static_cast<uint32_t>(rates[r]));
      EXPECT_EQ(outDriver.openedFormat.avgBytesPerSec, static_cast<uint32_t>(rates[r] * 4));
      EXPECT_EQ(modulator.FrameRate(), rates[r]);
      EXPECT_TRUE(res.output.opened);
      EXPECT_TRUE(res.input.opened);
      control.Stop();
    }
  }
  // No buffer-length selection plays 250 ms buffers.
  EXPECT_EQ(control.Start(Sine(3, -1)).bufferBytes, 262144);
}

TEST_F(RunControlTest, RdsRuleComesBeforeTheFirstBlockAndOnlyAt192000) {
  for (int r = 0; r < 4; ++r) {
    bool called = false;
    bool allowed = false;
    int readsAtRule = -1;
    const StartResult res = control.Start(Sine(r), [&](bool a) {
      called = true;
      allowed = a;
      readsAtRule = controls.reads;
      // The caller switches RDS off here; the prefill must already see it.
      controls.snapshot.rds = a;
    });
    EXPECT_TRUE(called);
    EXPECT_EQ(allowed, r == 3);
    EXPECT_EQ(res.rdsAllowed, r == 3);
    EXPECT_EQ(readsAtRule, controls.reads - 4);  // the four prefill blocks came after the rule
    EXPECT_EQ(modulator.LastBlockParams().RDSOn, r == 3);
    control.Stop();
  }
}

TEST_F(RunControlTest, SineSourceLeavesTheInputClosedAndItsQueueUntouched) {
  modulator.Queue().AddFrame(111, 222);
  const int count = modulator.Queue().SampleCount();
  const int readPos = modulator.Queue().InReadPos();
  const StartResult res = control.Start(Sine(3));
  EXPECT_EQ(modulator.State().SourceMode, SourceSine);
  EXPECT_FALSE(res.input.tried);
  EXPECT_FALSE(in.DeviceOpen());
  EXPECT_TRUE(inDriver.log.empty());
  Play(6);
  EXPECT_EQ(modulator.Queue().SampleCount(), count);
  EXPECT_EQ(modulator.Queue().InReadPos(), readPos);
  EXPECT_TRUE(res.output.opened);
  EXPECT_EQ(out.DoneCount(), 6);
}

TEST_F(RunControlTest, InputSourceOpensTheInputFirstAndFeedsTheCaptureHandler) {
  float left = -1.0f, right = -1.0f;
  int levels = 0;
  control.OnInputLevels = [&](float l, float r) {
    left = l;
    right = r;
    ++levels;
  };
  RunSettings s = Sine(3);
  s.sineSource = false;
  s.inputDevice = 0;
  const StartResult res = control.Start(s);
  EXPECT_EQ(modulator.State().SourceMode, SourceInput);
  EXPECT_TRUE(res.input.opened);
  EXPECT_TRUE(in.Streaming());
  EXPECT_EQ(inDriver.Count("start"), 1);
  // Held while the prefill is queued, then released: all four buffers before playing.
  ASSERT_GE(outDriver.IndexOf("pause"), 0);
  EXPECT_LT(outDriver.IndexOf("pause"), outDriver.IndexOf("write"));
  EXPECT_EQ(outDriver.Count("write"), 4);
  EXPECT_GT(outDriver.IndexOf("restart"), outDriver.IndexOf("write"));
  EXPECT_FALSE(out.Paused());
  Play(3);
  EXPECT_EQ(levels, 3);
  EXPECT_GT(left, 0.0f);  // recorded bytes are the buffer's sequence number: never silent
  EXPECT_GT(right, 0.0f);
  EXPECT_GT(modulator.Queue().SampleCount(), 0);
  EXPECT_EQ(control.InputGaps(), 0u);
  // A buffer that finds the queue all but full loses its tail: one input gap.
  modulator.Queue().SetPositionsForTest(0, InputSampleQueue::MaxSamples - 8);
  inDriver.Complete(1, static_cast<uint32_t>(in.BufferSize()));
  in.ProcessNotices();
  EXPECT_EQ(control.InputGaps(), 1u);
}

TEST_F(RunControlTest, NoOutputDeviceIsAnErrorAndNothingOpens) {
  RunSettings s = Sine(3);
  s.sineSource = false;
  s.outputDevice = -1;
  const StartResult res = control.Start(s);
  EXPECT_FALSE(res.started);
  EXPECT_EQ(res.error, "No output device is selected");
  EXPECT_FALSE(control.Running());
  EXPECT_TRUE(outDriver.log.empty());
  EXPECT_TRUE(inDriver.log.empty());  // nor is the input opened for a run that cannot play
  // Without an input selection the sound-card source still runs, on the queue alone.
  s.outputDevice = 0;
  s.inputDevice = -1;
  const StartResult noInput = control.Start(s);
  EXPECT_TRUE(noInput.started);
  EXPECT_FALSE(noInput.input.tried);
  EXPECT_TRUE(noInput.output.opened);
  EXPECT_TRUE(inDriver.log.empty());
  EXPECT_EQ(modulator.State().SourceMode, SourceInput);
  control.Stop();
  EXPECT_FALSE(control.Running());
  EXPECT_TRUE(modulator.State().StopRequested);
}

TEST_F(RunControlTest, OutputWhoseStartFailsIsClosedWithItsErrorText) {
  outDriver.startResult = wave::NotEnabled;  // opened, prepared and queued; the start fails
  RunSettings s = Sine(1, 0);
  s.stopAfterSeconds = 1.0;
  const StartResult res = control.Start(s);
  EXPECT_TRUE(res.started);
  EXPECT_TRUE(res.output.tried);
  EXPECT_FALSE(res.output.opened);
  EXPECT_EQ(res.output.errorText, "fake error 3");
  EXPECT_EQ(outDriver.Count("write"), 4);
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_TRUE(out.DeviceFailed());
  EXPECT_FALSE(control.OutputFinished());  // a timed run that never played has not ended well
}

TEST_F(RunControlTest, DeviceChoiceByNameThenNumber) {
  const std::vector<std::string> list{"Speakers", "Line Out", "Caf\xc3\xa9"};
  EXPECT_EQ(ChooseDevice(list, "LINE OUT", 0), 1);  // a-z folded
  EXPECT_EQ(ChooseDevice(list, "line out", 2), 1);
  EXPECT_EQ(ChooseDevice(list, "CAF\xc3\x89", 0), 0);  // no folding beyond a-z: saved number
  EXPECT_EQ(ChooseDevice(list, "Headphones", 2), 2);
  EXPECT_EQ(ChooseDevice(list, "Headphones", 5), -1);  // outside the list: no selection
  EXPECT_EQ(ChooseDevice(list, "Headphones", -1), -1);
  EXPECT_EQ(ChooseDevice({}, "(Default)", 0), -1);
}

TEST_F(RunControlTest, NoRateSelectedEndsEarlyWithTheConversionError) {
  modulator.State().StopRequested = true;
  modulator.State().CapInL.fill(7);
  const StartResult res = control.Start(Sine(-1));
  EXPECT_FALSE(res.started);
  EXPECT_EQ(res.error, "'' is not a valid integer value");
  EXPECT_FALSE(control.Running());
  EXPECT_FALSE(modulator.State().StopRequested);
  EXPECT_EQ(modulator.State().CapInL[0], 0);
  EXPECT_TRUE(outDriver.log.empty());
  EXPECT_EQ(out.FrameRate(), 192000);
}

TEST_F(RunControlTest, StartStopStartContinuesTheEngine) {
  // The same controls and block sizes in one unbroken run.
  FixedControls refControls;
  Modulator reference(refControls);
  reference.SetFrameRate(48000);
  reference.BeginRun(SourceSine);
  std::vector<std::vector<uint8_t>> expected;
  for (int i = 0; i < 14; ++i) {
    std::vector<uint8_t> block(16384);
    reference.AudioOut1FillBuffer(block.data(), 16384);
    expected.push_back(block);
  }

  std::vector<std::vector<uint8_t>> got;
  control.OnBlockFilled = [&] {
    // The slot just filled is the one the stream fills next in order.
    const int slot = static_cast<int>(got.size() % 4);
    const uint8_t* d = out.Slot(slot).data;
    got.emplace_back(d, d + out.BufferSize());
  };
  ASSERT_TRUE(control.Start(Sine(1, 0)).output.opened);  // 48000 Hz, 16384 bytes
  Play(4);                                               // 8 blocks filled
  control.Stop();
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_EQ(got.size(), 8u);
  Play(2);  // late notices change nothing
  EXPECT_EQ(got.size(), 8u);

  const StartResult again = control.Start(Sine(1, 0));
  ASSERT_TRUE(again.output.opened);
  EXPECT_EQ(outDriver.Count("open"), 2);
  Play(2);
  ASSERT_EQ(got.size(), 14u);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i], expected[i]) << "block " << i;
  }
  EXPECT_FALSE(modulator.State().StopRequested);
}

TEST_F(RunControlTest, FailedOpensReportTheirErrorTextAndTheStartCompletes) {
  outDriver.openResult = wave::Allocated;
  inDriver.openResult = wave::BadFormat;
  RunSettings s = Sine(2);
  s.sineSource = false;
  const StartResult res = control.Start(s);
  EXPECT_TRUE(res.started);
  EXPECT_TRUE(control.Running());
  EXPECT_TRUE(res.output.tried);
  EXPECT_FALSE(res.output.opened);
  EXPECT_EQ(res.output.errorText, "fake error 4");
  EXPECT_FALSE(res.input.opened);
  EXPECT_EQ(res.input.errorText, "fake error 32");
  EXPECT_FALSE(out.Paused());
}

TEST_F(RunControlTest, SecondStartWithoutAStopLeavesTheRunningStreamsAlone) {
  RunSettings s = Sine(2, 0);  // 96000 Hz, 32768-byte buffers
  s.sineSource = false;
  ASSERT_TRUE(control.Start(s).output.opened);
  Play(1);
  const uint8_t* outHeld = out.Slot(0).data;
  const uint8_t* inHeld = in.Slot(0).data;
  const StartResult twice = control.Start(Sine(3, 4));  // other rate, 1 s buffers
  EXPECT_FALSE(twice.started);
  EXPECT_EQ(twice.error, "Streaming has started already: stop it before starting again");
  // The devices keep their buffers and format: nothing was freed or changed under them.
  EXPECT_EQ(out.Slot(0).data, outHeld);
  EXPECT_EQ(in.Slot(0).data, inHeld);
  EXPECT_EQ(out.BufferSize(), 32768);
  EXPECT_EQ(out.FrameRate(), 96000);
  EXPECT_EQ(modulator.FrameRate(), 96000);
  EXPECT_EQ(outDriver.Count("open"), 1);
  EXPECT_EQ(outDriver.Count("pause"), 1);
  Play(2);
  EXPECT_EQ(out.DoneCount(), 3);
  EXPECT_TRUE(in.DeviceOpen());
  control.Stop();
  EXPECT_TRUE(control.Start(Sine(3, 4)).output.opened);
  EXPECT_EQ(out.BufferSize(), 1048576);
}

TEST_F(RunControlTest, LostDeviceIsReportedOnceAndClosed) {
  std::vector<DeviceLostEvent> events;
  control.OnDeviceLost = [&](const DeviceLostEvent& e) { events.push_back(e); };
  RunSettings s = Sine(3);
  s.sineSource = false;
  control.Start(s);
  EXPECT_TRUE(control.CheckDevices());
  outDriver.health = wave::DeviceLost;
  EXPECT_FALSE(control.CheckDevices());
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].output);
  EXPECT_EQ(events[0].errorText, "fake error 36");
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_TRUE(out.DeviceFailed());
  EXPECT_TRUE(in.DeviceOpen());
  inDriver.health = wave::DeviceStalled;
  in.ProcessNotices();  // found on the next notice as well
  ASSERT_EQ(events.size(), 2u);
  EXPECT_FALSE(events[1].output);
  EXPECT_EQ(events[1].errorText, "fake error 37");
  EXPECT_FALSE(control.FadingOut());
  control.Stop();
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(RunControlTest, TimedRunPlaysExactlyItsFramesThenFadesAndCloses) {
  RunSettings s = Sine(0, 0);  // 44100 Hz, 16384-byte (4096-frame) buffers
  s.stopAfterSeconds = 0.2;    // 8820 frames
  control.OnBlockFilled = [&] { ++blocks; };
  ASSERT_TRUE(control.Start(s).output.opened);
  for (int i = 0; i < 100 && out.DeviceOpen(); ++i) {
    outDriver.Complete(1);
    out.ProcessNotices();
  }
  EXPECT_FALSE(out.DeviceOpen());
  EXPECT_TRUE(control.OutputFinished());
  // Signal, fade and the silence that pushes them out of the device, the last block short.
  uint64_t frames = 0;
  for (uint32_t len : outDriver.writeLengths) frames += len / 4;
  const uint64_t fade = 44100 * RunControl::kFadeMs / 1000;
  const uint64_t minimum = 8820 + fade + 2 * 4096 + 22050;
  EXPECT_EQ(frames, (minimum + 4095) / 4096 * 4096);
  EXPECT_EQ(control.FramesFilled(), frames);
  for (uint32_t len : outDriver.writeLengths) EXPECT_EQ(len, 16384u);
  EXPECT_EQ(static_cast<uint64_t>(blocks), frames / 4096);
}

TEST_F(RunControlTest, FadeKeepsTheSignalUpToItsStartAndEndsInSilence) {
  // One block holds signal, fade and silence: check the samples themselves.
  FixedControls refControls;
  Modulator reference(refControls);
  reference.SetFrameRate(192000);
  reference.BeginRun(SourceSine);
  std::vector<int16_t> ref(16384 * 2);
  reference.AudioOut1FillBuffer(reinterpret_cast<uint8_t*>(ref.data()), 65536);

  std::vector<int16_t> first;
  control.OnBlockFilled = [&] {
    if (first.empty()) {
      const auto* d = reinterpret_cast<const int16_t*>(out.Slot(0).data);
      first.assign(d, d + 16384 * 2);
    }
  };
  RunSettings s = Sine(3, 0);  // 65536 bytes = 16384 frames
  s.stopAfterSeconds = 0.04;   // 7680 frames, then a 3840-frame fade
  ASSERT_TRUE(control.Start(s).output.opened);
  ASSERT_EQ(first.size(), ref.size());
  for (std::size_t i = 0; i < 7680 * 2; ++i) ASSERT_EQ(first[i], ref[i]) << i;
  EXPECT_EQ(first[7680 * 2], ref[7680 * 2]);  // gain 1 at the fade's first frame
  int peakEarly = 0, peakLate = 0;
  for (std::size_t f = 7680; f < 7680 + 400; ++f)
    peakEarly = std::max(peakEarly, std::abs(first[2 * f]));
  for (std::size_t f = 7680 + 3440; f < 7680 + 3840; ++f)
    peakLate = std::max(peakLate, std::abs(first[2 * f]));
  EXPECT_GT(peakEarly, 2000);
  EXPECT_LT(peakLate, 100);
  for (std::size_t i = (7680 + 3840) * 2; i < first.size(); ++i) ASSERT_EQ(first[i], 0) << i;
  // Stopping during the fade still closes at once.
  control.Stop();
  EXPECT_FALSE(out.DeviceOpen());
}

TEST_F(RunControlTest, FadeRequestedWhileRunningStartsWithTheNextBlock) {
  ASSERT_TRUE(control.Start(Sine(3, 0)).output.opened);
  Play(2);
  const uint64_t filled = control.FramesFilled();
  EXPECT_EQ(filled, 6u * 16384u);
  control.FadeOutAt(0);
  EXPECT_TRUE(control.FadingOut());
  EXPECT_FALSE(control.OutputFinished());
  modulator.RequestStop();  // the fade plays out even after the engine was told to stop
  for (int i = 0; i < 40 && out.DeviceOpen(); ++i) Play(1);
  EXPECT_TRUE(control.OutputFinished());
  const uint64_t fade = 192000 * RunControl::kFadeMs / 1000;
  EXPECT_EQ(control.FramesFilled(), (filled + fade + 2 * 16384 + 96000 + 16383) / 16384 * 16384);
}

}  // namespace
}  // namespace kelvane
