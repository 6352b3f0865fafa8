// The `kelvane` program as a process: options, SIGTERM/SIGINT closing with a save, screenshots.
#include <gtest/gtest.h>
#include <signal.h>

#include <QImage>
#include <chrono>
#include <thread>

#include "AppMain.h"
#include "IniFile.h"
#include "Process.h"
#include "TempDir.h"

namespace kelvane::testing {
namespace {

using namespace std::chrono_literals;

TEST(ProgramOptions, AcceptsTheDocumentedFormsAndRefusesTheRest) {
  ProgramOptions o;
  std::string error;
  ASSERT_TRUE(ParseProgramOptions(
      {"--settings", "a.ini", "--screenshot=s.png", "--after", "2.5", "--dialog"}, o, error))
      << error;
  EXPECT_EQ(o.settings.value_or(""), "a.ini");
  EXPECT_EQ(o.screenshot.value_or(""), "s.png");
  EXPECT_EQ(o.after, 2.5);
  EXPECT_TRUE(o.dialog);
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"--settings"},
                                              {"--after", "2"},
                                              {"--screenshot", "x.png", "--after", "-1"},
                                              {"--bogus"},
                                              {"file.ini"},
                                              {"--dialog"},
                                              {"--settings="}}) {
    ProgramOptions p;
    EXPECT_FALSE(ParseProgramOptions(bad, p, error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

// Runs the program with the settings file and waits until it has written it (or gives up).
pid_t StartProgram(const std::string& ini, const std::vector<std::string>& extra = {}) {
  // The program lists the real sound devices, and ALSA's plugins, loaded and unloaded on the
  // way, keep allocations that a leak check cannot name; our own code's leaks are checked by
  // the in-process window tests.
  ::setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
  std::vector<std::string> argv = {KELVANE_EXE, "--settings", ini};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return StartProcess(argv);
}

TEST(Program, SigtermAndSigintCloseTheWindowWithASave) {
  for (int sig : {SIGTERM, SIGINT}) {
    TempDir dir;
    const std::string ini = dir / "vantorex.ini";
    WriteFile(ini, "[General]\nSinePeakDev=33.3\nSamplingRate=1\nAudioOutDevice=99\n");
    const pid_t pid = StartProgram(ini);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(2000ms);  // up and in its event loop
    ::kill(pid, sig);
    EXPECT_EQ(WaitProcess(pid, 10s), 0) << "signal " << sig;
    IniFile f;
    f.Load(ini);
    // Written at close: the loaded values, and the keys a first file lacked.
    EXPECT_EQ(f.Get("General", "SinePeakDev").value_or(""), "33.3");
    EXPECT_EQ(f.Get("General", "SamplingRate").value_or(""), "1");
    EXPECT_EQ(f.Get("General", "Running").value_or(""), "0");
    EXPECT_EQ(f.Get("General", "MVoltage").value_or(""), "50");
  }
}

TEST(Program, ScreenshotOfBothWindowsWithoutTouchingTheSettings) {
  TempDir dir;
  const std::string ini = dir / "vantorex.ini";
  const std::string png = dir / "shot.png";
  WriteFile(ini, "[General]\nTop=30\n");
  const pid_t pid = StartProgram(ini, {"--screenshot", png, "--after", "0.2", "--dialog"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitProcess(pid, 20s), 0);
  QImage img(QString::fromStdString(png));
  ASSERT_FALSE(img.isNull());
  // The main window's 728 x 528 and the dialog's 454 x 302 client areas, each under a title bar.
  EXPECT_EQ(img.width(), 730 + 16 + 456);
  EXPECT_EQ(img.height(), 528 + 23);
  EXPECT_EQ(ReadFile(ini), "[General]\nTop=30\n");
  // Upper panel background at the gap between two groups.
  EXPECT_EQ(QColor(img.pixel(1 + 300, 22 + 100)), QColor(37, 37, 37));
}

TEST(Program, UnknownOptionExitsWithAMessage) {
  ::setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
  const pid_t pid = StartProcess({KELVANE_EXE, "--no-such-option"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitProcess(pid, 10s), 2);
}

}  // namespace
}  // namespace kelvane::testing
