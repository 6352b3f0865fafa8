// SPDX-License-Identifier: GPL-3.0-or-later
// The window's audio-file source and its recording of what it sends, through the scripted
// driver: the file entry of the input list, its keys, the file's frames in the input queue,
// and recordings equal to the blocks handed to the output.
#include <sndfile.h>

#include <QElapsedTimer>
#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "ClockTime.h"
#include "FormWidgets.h"
#include "GuiHarness.h"
#include "IniFile.h"
#include "KelvaneVersion.h"
#include "ProgrammeDialog.h"
#include "SettingsFile.h"

namespace kelvane::testing {
namespace {

constexpr int kRate = 192000;

// A 16-bit stereo WAV at `rate` written by libsndfile; L and R ramps that never repeat within
// the file.
std::vector<int16_t> WriteTone(const std::string& path, int rate, int frames) {
  std::vector<int16_t> pcm(2 * static_cast<std::size_t>(frames));
  for (int n = 0; n < frames; ++n) {
    pcm[2 * n] = static_cast<int16_t>(n % 30011 - 15000);
    pcm[2 * n + 1] = static_cast<int16_t>(12000 - (n * 3) % 24007);
  }
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
  if (f != nullptr) {
    EXPECT_EQ(sf_writef_short(f, pcm.data(), frames), frames);
    sf_close(f);
  }
  return pcm;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Lets the timers of the window run for `ms`.
void PumpFor(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

class WindowFile : public ::testing::Test {
 protected:
  TempDir dir;
  std::string ini = dir / "vantorex.ini";
  std::string Saved(const char* key) {
    IniFile f;
    f.Load(ini);
    return f.Get("General", key).value_or("<missing>");
  }
  // Picks the last entry of the input list as a user does ("Audio file…").
  static void PickAudioFile(Gui& gui) { QTest::keyClick(gui.form->ComboBox5, Qt::Key_End); }
};

TEST_F(WindowFile, ChosenFileIsShownSavedResumedAndFeedsTheInput) {
  const std::string tone = dir / "tone.wav";
  const int fileFrames = 40000;
  const std::vector<int16_t> pcm = WriteTone(tone, kRate, fileFrames);
  WriteFile(dir / "notes.txt", "not audio\n");
  {
    Gui gui;
    gui.Start(ini);
    TForm1& form = *gui.form;
    ASSERT_EQ(form.ComboBox5->count(), 2);
    EXPECT_EQ(form.ComboBox5->itemText(1), QStringLiteral("Audio file\u2026"));
    gui.openAnswer = QString::fromStdString(tone);
    PickAudioFile(gui);
    EXPECT_TRUE(gui.openFilters.contains("(*.wav *.flac *.ogg *.oga *.mp3 *.aif *.aiff)"));
    EXPECT_TRUE(gui.openFilters.contains("(*)"));
    ASSERT_EQ(form.ComboBox5->count(), 3);
    EXPECT_EQ(form.ComboBox5->currentIndex(), 1);
    EXPECT_EQ(form.ComboBox5->currentText(), "tone.wav");
    EXPECT_EQ(form.ComboBox5->itemData(1, Qt::ToolTipRole).toString(),
              QString::fromStdString(tone));
    EXPECT_TRUE(form.InputFileSelected());
    // Something that is not audio, then a cancelled dialog: the list keeps the file.
    gui.openAnswer = QString::fromStdString(dir / "notes.txt");
    PickAudioFile(gui);
    ASSERT_EQ(gui.notices.size(), 1u);
    EXPECT_TRUE(gui.notices[0].startsWith("The audio file cannot be played: "))
        << gui.notices[0].toStdString();
    EXPECT_TRUE(gui.notices[0].contains("notes.txt")) << gui.notices[0].toStdString();
    gui.openAnswer.clear();
    PickAudioFile(gui);
    EXPECT_EQ(form.ComboBox5->currentText(), "tone.wav");
    EXPECT_EQ(form.InputFile(), QString::fromStdString(tone));
    // The loop switch sits in the audio group of the "RDS and audio" dialog.
    Gui::Click(form.Label20);
    ASSERT_NE(form.ProgrammeDialog(), nullptr);
    Gui::Click(form.ProgrammeDialog()->CBLOOP);
    EXPECT_TRUE(form.InputFileLoop());
    form.RBEXT->setChecked(true);
    form.CBBL->setCurrentIndex(0);
    form.close();
  }
  EXPECT_EQ(Saved("InputFile"), tone);
  EXPECT_EQ(Saved("FileSource"), "1");
  EXPECT_EQ(Saved("InputFileLoop"), "1");
  EXPECT_EQ(Saved("AudioInDeviceName"), "Microphone");  // the device stays for later
  EXPECT_EQ(Saved("AudioInDevice"), "0");

  Gui gui;
  gui.Start(ini);
  TForm1& form = *gui.form;
  EXPECT_EQ(form.ComboBox5->currentText(), "tone.wav");
  EXPECT_TRUE(form.InputFileLoop());
  const InputSampleQueue& queue = form.Engine().Queue();
  const int firstSlot = queue.InWritePos();
  gui.ClickStartStop();
  ASSERT_EQ(gui.Caption(), "Stop");
  EXPECT_TRUE(gui.notices.empty()) << gui.notices[0].toStdString();
  // The output alone is opened: the file takes the capture device's place.
  EXPECT_EQ(gui.driver.Count("open"), 1);
  EXPECT_EQ(gui.driver.Count("add"), 0);
  // The four prefilled blocks (16384 frames each) took the file's frames sample for sample,
  // from its start and again from its start after its end.
  const int blockFrames = static_cast<int>(gui.driver.openedBlockBytes / 4);
  ASSERT_EQ(blockFrames, 16384);
  int differ = 0;
  for (int n = 0; n < 4 * blockFrames; ++n) {
    for (int c = 0; c < 2; ++c) {
      const int slot = (firstSlot + 2 * n + c) % InputSampleQueue::InQueueSize;
      differ += queue.SlotForTest(slot) != pcm[2 * static_cast<std::size_t>(n % fileFrames) + c];
    }
  }
  EXPECT_EQ(differ, 0);
  gui.ClickStartStop();
}

TEST_F(WindowFile, FileThatIsGoneSaysWhyAndStartsNothing) {
  WriteFile(ini, "[General]\nSineSource=0\nExtSource=1\nFileSource=1\nInputFile=" +
                     (dir / "gone.flac") + "\n");
  Gui gui;
  gui.Start(ini);
  EXPECT_EQ(gui.form->ComboBox5->currentText(), "gone.flac");
  gui.ClickStartStop();
  ASSERT_EQ(gui.notices.size(), 1u);
  EXPECT_TRUE(gui.notices[0].startsWith("The audio file cannot be played: "))
      << gui.notices[0].toStdString();
  EXPECT_TRUE(gui.notices[0].contains("gone.flac")) << gui.notices[0].toStdString();
  EXPECT_EQ(gui.Caption(), "Start");
  EXPECT_FALSE(gui.form->IsRunning());
  EXPECT_TRUE(gui.driver.log.empty());
  EXPECT_TRUE(gui.errors.empty());
}

// Fills `blocks` more output blocks and returns what they handed to the driver.
std::string NextBlocks(Gui& gui, int blocks) {
  std::string sent;
  for (int i = 0; i < blocks; ++i) {
    gui.driver.Complete(1);
    Gui::Pump();
    const WaveHeader* h = gui.driver.writes.back();
    sent.append(reinterpret_cast<const char*>(h->data), gui.driver.writeLengths.back());
  }
  return sent;
}

TEST_F(WindowFile, RecordingHoldsExactlyTheBlocksSent) {
  WriteFile(ini, "[General]\nBufferLength=0\nCarrierFreq=-12000\nStereo=1\n");
  Gui gui;
  gui.Start(ini);
  TForm1& form = *gui.form;
  EXPECT_EQ(form.Label21->text(), QStringLiteral("Record\u2026"));
  EXPECT_EQ(form.Label21->parentWidget(), static_cast<QWidget*>(form.GroupBox1));
  Gui::Click(form.Label21);  // nothing is being sent yet
  ASSERT_EQ(gui.notices.size(), 1u);
  EXPECT_FALSE(form.Recording());

  gui.ClickStartStop();
  gui.saveAnswer = QString::fromStdString(dir / "cap");
  gui.saveFilter = "SigMF, ci16_le (*.sigmf-data)";
  const double before = NowUtc();
  Gui::Click(form.Label21);
  ASSERT_TRUE(form.Recording()) << gui.notices.back().toStdString();
  const std::string sent = NextBlocks(gui, 5);
  PumpFor(700);  // the writer catches up, the link shows time and size
  EXPECT_EQ(form.Label21->text(), QStringLiteral("Stop recording 0:00 \u00b7 328 kB"));
  EXPECT_LE(form.Label21->x() + form.Label21->width(), form.GroupBox1->width() - 4);
  Gui::Click(form.Label21);
  EXPECT_FALSE(form.Recording());
  EXPECT_EQ(form.Label21->text(), QStringLiteral("Record\u2026"));
  EXPECT_EQ(ReadAll(dir / "cap.sigmf-data"), sent);
  const auto meta = nlohmann::json::parse(ReadAll(dir / "cap.sigmf-meta"));
  const auto& global = meta.at("global");
  EXPECT_EQ(global.at("core:datatype"), "ci16_le");
  EXPECT_EQ(global.at("core:sample_rate"), kRate);
  EXPECT_EQ(global.at("core:recorder"), std::string("kelvane ") + kProgramVersion);
  // Every setting as the settings file holds it.
  const auto& settings = global.at("kelvane:settings");
  EXPECT_EQ(settings.size(), SettingsKeys().size());
  EXPECT_EQ(settings.at("CarrierFreq"), "-12000");
  EXPECT_EQ(settings.at("Stereo"), "1");
  // The first sample is dated when it is heard: after the blocks queued ahead of it.
  std::string why;
  const auto start =
      ParseUtcTime(meta.at("captures").at(0).at("core:datetime").get<std::string>(), why);
  ASSERT_TRUE(start.has_value()) << why;
  EXPECT_GE(*start, before - 1.0);
  EXPECT_LE(*start, NowUtc() + 1.0);

  // A recording that fails (a full disk) stops by itself and says so; the run goes on.
  gui.saveAnswer = "/dev/full";
  gui.saveFilter = "Raw ci16 (*.raw *.ci16 *.iq)";
  Gui::Click(form.Label21);
  ASSERT_TRUE(form.Recording()) << gui.notices.back().toStdString();
  NextBlocks(gui, 3);
  PumpFor(700);
  EXPECT_FALSE(form.Recording());
  ASSERT_EQ(gui.notices.size(), 2u);
  EXPECT_TRUE(gui.notices[1].startsWith("The recording stopped after "))
      << gui.notices[1].toStdString();
  EXPECT_TRUE(gui.notices[1].endsWith("; the transmission goes on."))
      << gui.notices[1].toStdString();
  EXPECT_EQ(gui.Caption(), "Stop");
  EXPECT_TRUE(form.AudioOut1().DeviceOpen());

  // The run's Stop ends a recording and keeps it.
  gui.saveAnswer = QString::fromStdString(dir / "run.raw");
  Gui::Click(form.Label21);
  const std::string more = NextBlocks(gui, 2);
  gui.ClickStartStop();
  EXPECT_FALSE(form.Recording());
  EXPECT_EQ(ReadAll(dir / "run.raw"), more);
  EXPECT_EQ(gui.notices.size(), 2u);
}

}  // namespace
}  // namespace kelvane::testing
