// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane-cli play --remote on the private sound server: OUTPut ON/OFF a hundred times leaves
// no stream behind and the last one playing, and the Python example sweeps the real player.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "Process.h"
#include "ScpiClient.h"
#include "SoundServer.h"

namespace kelvane::testing {
namespace {

using namespace std::chrono_literals;

int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

// Playback streams the sound server has.
int Streams() {
  FILE* p = ::popen("pactl list short sink-inputs", "r");
  int lines = 0;
  for (int c; (c = std::fgetc(p)) != EOF;) lines += c == '\n';
  ::pclose(p);
  return lines;
}

TEST(RemotePlay, OutputOnOffAHundredTimesLeavesNoStuckStreamAndThePythonSweepWorks) {
  if (SoundServerDir().empty()) GTEST_SKIP() << "needs the private sound server";
  const std::string work = SoundServerDir() + "/remote-play";
  std::filesystem::remove_all(work);
  std::filesystem::create_directories(work);
  const int port = FreePort();
  ::setenv("KELVANE_SETTINGS", (work + "/vantorex.ini").c_str(), 1);
  const pid_t play = StartProcess({KELVANE_CLI_PATH, "play", "--remote", std::to_string(port),
                                   "--set", "SamplingRate=1", "--set", "BufferLength=0"},
                                  work + "/stdout");
  ASSERT_GT(play, 0);
  const auto until = std::chrono::steady_clock::now() + 10s;
  while (Streams() != 1 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(Streams(), 1);
  {
    ScpiClient c(port, [] {});
    for (int i = 0; i < 100; ++i) {
      ASSERT_EQ(c.Query("OUTP OFF;:OUTP?"), "0") << "cycle " << i;
      if (i % 10 == 0) {
        EXPECT_EQ(Streams(), 0) << "cycle " << i;
      }
      ASSERT_EQ(c.Query("OUTP ON;:OUTP?"), "1") << "cycle " << i;
      if (i % 10 == 0) {
        EXPECT_EQ(Streams(), 1) << "cycle " << i;
      }
    }
    EXPECT_EQ(c.Query("SYST:ERR?"), "0,\"No error\"");
    EXPECT_EQ(Streams(), 1);
  }
  const std::string sweep = std::string("python3 ") + KELVANE_SOURCE_DIR +
                            "/docs/remote_sweep.py --port " + std::to_string(port) +
                            " --steps 3 > " + work + "/sweep.txt 2>&1";
  EXPECT_EQ(std::system(sweep.c_str()), 0)
      << std::string(ReadBytes(work + "/sweep.txt").data(), ReadBytes(work + "/sweep.txt").size());
  const std::vector<char> text = ReadBytes(work + "/sweep.txt");
  // The meter reads the set deviation within 0.2 kHz at each step (the script's own check).
  EXPECT_NE(std::string(text.begin(), text.end()).find("\n     75.0            7"),
            std::string::npos)
      << std::string(text.begin(), text.end());
  EXPECT_EQ(Streams(), 0);  // the sweep ends with OUTPut OFF; the player goes on
  ASSERT_EQ(::kill(play, SIGINT), 0);
  EXPECT_EQ(WaitProcess(play, 5s), 0);
  ::unsetenv("KELVANE_SETTINGS");
}

}  // namespace
}  // namespace kelvane::testing
