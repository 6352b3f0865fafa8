// SPDX-License-Identifier: GPL-3.0-or-later
// QuietStderr: the audio libraries' noise is dropped, everything else gets out.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "QuietStderr.h"
#include "SoundServer.h"

namespace kelvane {
namespace {

using namespace std::chrono_literals;

// The filter behind QuietStderr, in a child that then aborts: the audio libraries' noise is
// dropped, every other line gets out, also the last ones before the abort.
TEST(QuietStderr, DropsTheAudioLibrariesNoiseAndPassesTheRestEvenThroughAnAbort) {
  const std::string file = (std::filesystem::temp_directory_path() /
                            ("kelvane-quiet-" + std::to_string(::getpid()) + ".txt"))
                               .string();
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::dup2(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    cli::QuietStderr quiet;
    const char text[] =
        "ALSA lib pcm.c:2664:(snd_pcm_open_noupdate) Unknown PCM cards.pcm.rear\n"
        "Expression 'ret' failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 1736\n"
        "Cannot connect to server socket err = No such file or directory\n"
        "==4242==ERROR: AddressSanitizer: heap-use-after-free on address 0x602000000010\n"
        "Expression 'x' failed in the user's own words\n";
    [[maybe_unused]] const ssize_t n = ::write(2, text, sizeof text - 1);
    quiet.Say("our own message");
    std::abort();
  }
  ASSERT_GT(child, 0);
  EXPECT_EQ(testing::WaitProcess(child, 10s), 128 + SIGABRT);
  // The filter outlives the aborted process to pass on what it holds.
  const std::string kept =
      "==4242==ERROR: AddressSanitizer: heap-use-after-free on address 0x602000000010\n"
      "Expression 'x' failed in the user's own words\n";
  std::string got;
  for (int i = 0; i < 100 && got.find(kept) == std::string::npos; ++i) {
    std::this_thread::sleep_for(20ms);
    const std::vector<char> bytes = testing::ReadBytes(file);
    got.assign(bytes.begin(), bytes.end());
  }
  std::filesystem::remove(file);
  EXPECT_NE(got.find(kept), std::string::npos) << got;
  EXPECT_NE(got.find("kelvane-cli: our own message\n"), std::string::npos) << got;
  EXPECT_EQ(got.size(), kept.size() + std::strlen("kelvane-cli: our own message\n")) << got;
}

}  // namespace
}  // namespace kelvane
