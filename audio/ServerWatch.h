// SPDX-License-Identifier: GPL-3.0-or-later
// What the desktop's sound server does with our output: the rate its sink really runs at,
// other streams mixed into it, and volumes. Any of these ruins an I/Q signal without a sound.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace kelvane {

// One look at the server (PulseAudio, or PipeWire through its PulseAudio service).
struct ServerReport {
  bool reached = false;  // a server answered
  bool found = false;    // it plays a stream of our process
  std::string sinkName;
  int sinkRate_Hz = 0;
  int streamRate_Hz = 0;
  int streamVolume_pct = 100;  // lowest channel, after our attempt to set it to 100 %
  bool streamMuted = false;
  int sinkVolume_pct = 100;
  bool sinkMuted = false;
  std::vector<std::string> others;  // names of other running streams on the same sink
};

// Connects to the default server, finds the playback streams of process `pid`, sets their
// volume to 100 % where it is not, and reports on the first one. Blocks up to `timeout`.
ServerReport QueryServer(pid_t pid, std::chrono::milliseconds timeout);

// What a report shows to be wrong for a stream meant to run at `rate_Hz`.
struct ServerProblem {
  enum Kind { Resampled, Mixed, Volume } kind;
  std::string text;  // one sentence, no prefix, with what to do
};
std::vector<ServerProblem> ServerProblems(const ServerReport& report, int rate_Hz);

// Asks the server to run its graph at our rate while our stream plays: properties that
// PipeWire reads from the environment of every stream a client opens (PulseAudio ignores
// them). Call before the streams open. Setting KELVANE_FORCE_RATE=0 switches it off.
void RequestServerRate(int rate_Hz);

// Looks at the server once a second on a thread of its own (libpulse blocks) and keeps the
// newest report; the owner reads it from any thread.
class ServerWatch {
 public:
  ServerWatch() = default;
  ~ServerWatch() { Stop(); }
  ServerWatch(const ServerWatch&) = delete;
  ServerWatch& operator=(const ServerWatch&) = delete;

  void Start(pid_t pid);
  void Stop();
  std::optional<ServerReport> Latest() const;

 private:
  void Run(pid_t pid);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::optional<ServerReport> latest_;
  std::thread thread_;
};

}  // namespace kelvane
