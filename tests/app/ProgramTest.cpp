// SPDX-License-Identifier: GPL-3.0-or-later
// The `kelvane` program as a process: options, SIGTERM/SIGINT closing with a save, screenshots.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QImage>
#include <chrono>
#include <thread>

#include "AppMain.h"
#include "IniFile.h"
#include "KelvaneVersion.h"
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

// Runs the program with standard error into `errPath` (the shell execs it: same process).
pid_t StartWithStderr(const std::string& errPath, const std::vector<std::string>& args) {
  ::setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
  std::vector<std::string> argv = {"/bin/sh", "-c", "exec 2>\"$0\"; exec \"$@\"", errPath,
                                   KELVANE_EXE};
  argv.insert(argv.end(), args.begin(), args.end());
  return StartProcess(argv);
}

TEST(Program, HelpAndVersionNeedNoDisplay) {
  TempDir dir;
  const std::vector<std::string> noDisplay = {
      "/usr/bin/env",    "-u", "DISPLAY",         "-u",
      "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM", KELVANE_EXE};
  auto run = [&](const std::vector<std::string>& args, const std::string& out) {
    std::vector<std::string> argv = noDisplay;
    argv.insert(argv.end(), args.begin(), args.end());
    return WaitProcess(StartProcess(argv, out), 10s);
  };
  EXPECT_EQ(run({"--help"}, dir / "help"), 0);
  EXPECT_EQ(ReadFile(dir / "help").rfind("Usage: kelvane [--settings FILE]", 0), 0u);
  EXPECT_EQ(run({"--version"}, dir / "version"), 0);
  EXPECT_EQ(ReadFile(dir / "version"), std::string("kelvane ") + kProgramVersion + "\n");
  // Anything else has nothing to show on: a message and a failure status, never an abort.
  EXPECT_EQ(run({"--bogus"}, dir / "bogus"), 2);
  EXPECT_EQ(run({"--settings", dir / "x.ini"}, dir / "plain"), 1);
}

TEST(Program, SignalsEndTheProgramWhenStartUpIsStuckOrTheSaveFails) {
  TempDir dir;
  // Start-up that may hang on a settings path that is a FIFO nobody writes to: a signal
  // before the event loop runs ends the program at once; the FIFO stays one.
  const std::string fifo = dir / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  pid_t pid = StartWithStderr(dir / "fifo.err", {"--settings", fifo});
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(300ms);
  ::kill(pid, SIGTERM);
  const int fifoStatus = WaitProcess(pid, 5s);
  EXPECT_NE(fifoStatus, -1) << "still running 5 s after SIGTERM";
  EXPECT_NE(fifoStatus, 0);
  struct stat st {};
  ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));

  // A close asked for by a signal whose save fails: the reason on stderr, a failure status,
  // no box waiting for an answer.
  WriteFile(dir / "plainfile", "x");
  const std::string ini = dir / "plainfile/vantorex.ini";
  const std::string err = dir / "save.err";
  pid = StartWithStderr(err, {"--settings", ini});
  ASSERT_GT(pid, 0);
  std::this_thread::sleep_for(2000ms);  // up and in its event loop
  ::kill(pid, SIGTERM);
  EXPECT_EQ(WaitProcess(pid, 5s), 1);
  EXPECT_NE(ReadFile(err).find("Unable to write to " + ini), std::string::npos) << ReadFile(err);
  EXPECT_EQ(ReadFile(dir / "plainfile"), "x");
}

TEST(Program, UnknownOptionExitsWithAMessage) {
  ::setenv("LSAN_OPTIONS", "detect_leaks=0", 1);
  const pid_t pid = StartProcess({KELVANE_EXE, "--no-such-option"});
  ASSERT_GT(pid, 0);
  EXPECT_EQ(WaitProcess(pid, 10s), 2);
}

}  // namespace
}  // namespace kelvane::testing
