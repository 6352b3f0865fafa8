// SPDX-License-Identifier: GPL-3.0-or-later
// What `play` and `play --remote` share: the device choice, the read-out line and the stop
// signals.
#pragma once

#include <signal.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "AudioIO.h"
#include "FileSource.h"
#include "Modulator.h"
#include "RunControl.h"
#include "options.h"

namespace kelvane::cli {

using Clock = std::chrono::steady_clock;
// A stop signal ends the run within this long, whatever the buffer length: the fade is heard
// by then, and a device that has not confirmed it is cut.
inline constexpr auto kStopWithin = std::chrono::milliseconds(450);

extern volatile sig_atomic_t gSignals;
extern "C" void OnStopSignal(int);

// The device an option names (a number, else a name), or the saved one: name first, then
// number. Returns -1 with `error` set when there is none.
int PickDevice(const char* kind, const char* option, const std::optional<std::string>& given,
               const std::vector<std::string>& list, const std::string& savedName, int savedIndex,
               std::string& error);

// One line a second: the window's two read-outs, then what went wrong with the sound so far.
// Returns the peak deviation text.
std::string PrintReadouts(Modulator& modulator, const RunControl& run, const TAudioOut& out,
                          bool sine, const FileSource* file, long long second);

// Blocks the stop signals on every thread (the audio threads inherit the mask) and handles
// them only while waiting in ppoll; puts everything back when done.
class StopSignals {
 public:
  StopSignals() {
    gSignals = 0;
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stop, &old_);
    waitMask_ = old_;
    sigdelset(&waitMask_, SIGINT);
    sigdelset(&waitMask_, SIGTERM);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, &oldInt_);
    ::sigaction(SIGTERM, &sa, &oldTerm_);
  }
  ~StopSignals() {
    ::sigaction(SIGINT, &oldInt_, nullptr);
    ::sigaction(SIGTERM, &oldTerm_, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;
  const sigset_t& WaitMask() const { return waitMask_; }

 private:
  sigset_t old_{}, waitMask_{};
  struct sigaction oldInt_ {};
  struct sigaction oldTerm_ {};
};

// The options of `play`, with and without --remote.
const std::vector<OptionSpec>& PlayOptionSpecs();

// `play --remote`: the player as an SCPI instrument (play_remote.cpp).
int RunRemotePlay(const std::vector<std::string>& args);

}  // namespace kelvane::cli
