// SPDX-License-Identifier: GPL-3.0-or-later
// End to end on a private sound server: the window's Start plays exactly what the headless
// renderer writes, Stop ends the stream, a run closed while streaming resumes by itself, and
// a recording from the window holds exactly what the server received.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "DeviceList.h"
#include "GuiHarness.h"
#include "IniFile.h"
#include "SoundServer.h"

namespace kelvane::testing {
namespace {

using namespace std::chrono_literals;
using Frame = std::pair<int16_t, int16_t>;

std::vector<Frame> Frames(const char* data, std::size_t bytes) {
  std::vector<Frame> f(bytes / 4);
  for (std::size_t i = 0; i < f.size(); ++i) {
    std::memcpy(&f[i].first, data + 4 * i, 2);
    std::memcpy(&f[i].second, data + 4 * i + 2, 2);
  }
  return f;
}

// The PCM frames of a WAV file (the "data" chunk).
std::vector<Frame> WavFrames(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> all((std::istreambuf_iterator<char>(in)), {});
  for (std::size_t pos = 12; pos + 8 <= all.size();) {
    uint32_t size = 0;
    std::memcpy(&size, all.data() + pos + 4, 4);
    if (std::memcmp(all.data() + pos, "data", 4) == 0) {
      return Frames(all.data() + pos + 8, std::min<std::size_t>(size, all.size() - pos - 8));
    }
    pos += 8 + size + (size & 1);
  }
  return {};
}

int SinkInputs(const std::string& dir) {
  const std::string out = dir + "/sink-inputs.txt";
  const pid_t p = StartProcess({"pactl", "list", "short", "sink-inputs"}, out);
  if (p <= 0 || WaitProcess(p, 10s) != 0) return -1;
  std::ifstream in(out);
  int lines = 0;
  for (std::string line; std::getline(in, line);) lines += line.empty() ? 0 : 1;
  return lines;
}

void PumpFor(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(2ms);
  }
}

TEST(WindowOnSoundServer, PlaysWhatTheRendererWritesStopsAndResumes) {
  const std::string dir = SoundServerDir();
  if (dir.empty()) GTEST_SKIP() << "needs the private sound server (run through ctest)";
  constexpr int kRate = 48000;
  const std::string ini = dir + "/window-e2e.ini";
  WriteFile(ini,
            "[General]\nSineSource=1\nExtSource=0\nSamplingRate=1\nBufferLength=1\n"
            "AudioOutDeviceName=pulse\nSinePeakDev=45.5\nSineModFreq=1234\nCarrierFreq=-7000\n"
            "MaxOutputSwing=80\nLRPhaseOffset=3.5\n");

  const std::string recording = dir + "/window-e2e.raw";
  const pid_t rec = StartProcess(
      {"parec", "--raw", "--format=s16le", "--channels=2", "--rate=" + std::to_string(kRate),
       "--latency-msec=100", "-d", "kelvane_a.monitor"},
      recording);
  ASSERT_GT(rec, 0);
  ASSERT_TRUE(WaitForBytes(recording, 5s)) << "parec records nothing";

  {
    Gui gui;
    gui.Start(ini, &DefaultWaveDriver());
    ASSERT_EQ(gui.form->ComboBox3->currentText(), "pulse");
    gui.ClickStartStop();
    ASSERT_TRUE(gui.form->AudioOut1().DeviceOpen()) << gui.form->LastNotice().toStdString();
    PumpFor(2500ms);
    EXPECT_GT(gui.form->AudioOut1().DoneCount(), 10);
    EXPECT_TRUE(gui.notices.empty()) << gui.notices[0].toStdString();
    gui.ClickStartStop();
    EXPECT_EQ(gui.Caption(), "Start");
    EXPECT_FALSE(gui.form->AudioOut1().DeviceOpen());
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(SinkInputs(dir), 0);  // the stream is gone from the server
    PumpFor(300ms);
  }
  ::kill(rec, SIGINT);
  WaitProcess(rec, 5s);

  const std::string wav = dir + "/window-e2e.wav";
  const pid_t render =
      StartProcess({KELVANE_CLI_EXE, "render", "--settings", ini, "--seconds", "4", "-o", wav},
                   dir + "/render.log");
  ASSERT_EQ(WaitProcess(render, 60s), 0);
  const auto expected = WavFrames(wav);
  ASSERT_EQ(expected.size(), 4u * kRate);

  const std::vector<char> raw = ReadBytes(recording);
  const auto got = Frames(raw.data(), raw.size());
  // Silence, then the renderer's frames sample for sample, then silence after Stop.
  std::size_t start = 0;
  while (start < got.size() && got[start] == Frame{0, 0}) ++start;
  ASSERT_LT(start, got.size()) << "nothing was played";
  std::size_t same = 0;
  while (start + same < got.size() && same < expected.size() &&
         got[start + same] == expected[same]) {
    ++same;
  }
  std::printf("played %zu frames equal to the renderer's, after %zu frames of silence\n", same,
              start);
  EXPECT_GE(same, static_cast<std::size_t>(kRate * 3 / 2)) << "first difference at frame " << same;
  std::size_t nonzeroAfter = 0;
  for (std::size_t i = start + same; i < got.size(); ++i) nonzeroAfter += got[i] != Frame{0, 0};
  EXPECT_EQ(nonzeroAfter, 0u) << "frames after the matching part that are not silence";

  // Closing while streaming writes "Running", and the next start streams without a click.
  {
    Gui gui;
    gui.Start(ini, &DefaultWaveDriver());
    gui.ClickStartStop();
    PumpFor(300ms);
    gui.form->close();
    IniFile f;
    f.Load(ini);
    EXPECT_EQ(f.Get("General", "Running").value_or(""), "1");
  }
  {
    Gui gui;
    gui.Start(ini, &DefaultWaveDriver());
    EXPECT_EQ(gui.Caption(), "Stop");
    EXPECT_TRUE(gui.form->IsRunning());
    ASSERT_TRUE(gui.form->AudioOut1().DeviceOpen());
    PumpFor(1000ms);
    EXPECT_GT(gui.form->AudioOut1().DoneCount(), 3);
    EXPECT_EQ(SinkInputs(dir), 1);
  }
}

TEST(WindowOnSoundServer, RecordingEqualsWhatTheServerReceived) {
  const std::string dir = SoundServerDir();
  if (dir.empty()) GTEST_SKIP() << "needs the private sound server (run through ctest)";
  constexpr int kRate = 48000;
  const std::string ini = dir + "/window-record.ini";
  WriteFile(ini,
            "[General]\nSamplingRate=1\nBufferLength=1\nAudioOutDeviceName=pulse\n"
            "SinePeakDev=61.3\nSineModFreq=997\nCarrierFreq=5300\nMaxOutputSwing=70\n");
  const std::string capture = dir + "/window-record-monitor.raw";
  const pid_t rec = StartProcess(
      {"parec", "--raw", "--format=s16le", "--channels=2", "--rate=" + std::to_string(kRate),
       "--latency-msec=100", "-d", "kelvane_a.monitor"},
      capture);
  ASSERT_GT(rec, 0);
  ASSERT_TRUE(WaitForBytes(capture, 5s)) << "parec records nothing";
  const std::string recording = dir + "/window-record.wav";
  {
    Gui gui;
    gui.Start(ini, &DefaultWaveDriver());
    gui.saveAnswer = QString::fromStdString(recording);
    gui.saveFilter = "WAV, 16-bit I/Q (*.wav)";
    gui.ClickStartStop();
    ASSERT_TRUE(gui.form->AudioOut1().DeviceOpen()) << gui.form->LastNotice().toStdString();
    PumpFor(700ms);
    Gui::Click(gui.form->Label21);
    ASSERT_TRUE(gui.form->Recording()) << gui.form->LastNotice().toStdString();
    PumpFor(2000ms);
    Gui::Click(gui.form->Label21);
    EXPECT_FALSE(gui.form->Recording());
    // The recorded blocks play out before the stream goes.
    PumpFor(1500ms);
    gui.ClickStartStop();
    EXPECT_TRUE(gui.notices.empty()) << gui.notices[0].toStdString();
  }
  std::this_thread::sleep_for(300ms);
  ::kill(rec, SIGINT);
  WaitProcess(rec, 5s);

  const auto recorded = WavFrames(recording);
  ASSERT_GE(recorded.size(), static_cast<std::size_t>(kRate));
  const std::vector<char> raw = ReadBytes(capture);
  const auto got = Frames(raw.data(), raw.size());
  // Where the recording's first frames are in what the server received.
  constexpr std::size_t kProbe = 256;
  std::size_t at = 0;
  while (at + kProbe <= got.size() &&
         !std::equal(recorded.begin(), recorded.begin() + kProbe, got.begin() + at)) {
    ++at;
  }
  ASSERT_LE(at + kProbe, got.size()) << "the recording's start is not in the capture";
  const std::size_t overlap = std::min(recorded.size(), got.size() - at);
  std::size_t differ = 0;
  for (std::size_t i = 0; i < overlap; ++i) differ += recorded[i] != got[at + i];
  std::printf("recorded %zu frames; %zu of them found at frame %zu of the capture\n",
              recorded.size(), overlap, at);
  EXPECT_EQ(overlap, recorded.size());
  EXPECT_EQ(differ, 0u);
}

TEST(WindowOnSoundServer, RapidStartStopOnARealDevice) {
  const std::string dir = SoundServerDir();
  if (dir.empty()) GTEST_SKIP() << "needs the private sound server (run through ctest)";
  const std::string ini = dir + "/window-rapid.ini";
  WriteFile(ini, "[General]\nAudioOutDeviceName=pulse\nBufferLength=0\n");
  Gui gui;
  gui.Start(ini, &DefaultWaveDriver());
  for (int i = 0; i < 40; ++i) {
    gui.ClickStartStop();
    PumpFor(std::chrono::milliseconds(i % 4 == 0 ? 30 : 2));
  }
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_FALSE(gui.form->AudioOut1().DeviceOpen());
  EXPECT_TRUE(gui.notices.empty()) << gui.notices.front().toStdString();
  gui.ClickStartStop();
  PumpFor(500ms);
  EXPECT_TRUE(gui.form->AudioOut1().DeviceOpen());
  EXPECT_GT(gui.form->AudioOut1().DoneCount(), 2);
  gui.ClickStartStop();
  EXPECT_EQ(SinkInputs(dir), 0);
}

// Through PipeWire at its default clock with the rate request switched off, a 192000 Hz run
// is resampled: the window says so once, as a notice, and keeps streaming.
TEST(WindowOnPipeWire, SaysOnceThatTheServerResamples) {
  const std::string dir = SoundServerDir();
  if (dir.empty() || !std::filesystem::exists(dir + "/config/pipewire")) {
    GTEST_SKIP() << "needs the private PipeWire (run through ctest)";
  }
  const std::string ini = dir + "/window-pipewire.ini";
  WriteFile(ini, "[General]\nAudioOutDeviceName=pulse\nSamplingRate=3\n");
  ::setenv("KELVANE_FORCE_RATE", "0", 1);
  Gui gui;
  gui.Start(ini, &DefaultWaveDriver());
  gui.ClickStartStop();
  ASSERT_TRUE(gui.form->AudioOut1().DeviceOpen()) << gui.form->LastNotice().toStdString();
  PumpFor(4500ms);
  ::unsetenv("KELVANE_FORCE_RATE");
  ASSERT_EQ(gui.notices.size(), 1u);
  EXPECT_TRUE(gui.notices[0].startsWith(
      "The sound server resamples this output; the I/Q signal is not exact (kelvane_a runs at "
      "48000 Hz, the signal at 192000 Hz)."))
      << gui.notices[0].toStdString();
  EXPECT_EQ(gui.Caption(), "Stop");
  gui.ClickStartStop();
}

}  // namespace
}  // namespace kelvane::testing
