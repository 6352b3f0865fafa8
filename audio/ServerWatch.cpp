// SPDX-License-Identifier: GPL-3.0-or-later
// Sound-server introspection through libpulse, which PulseAudio and PipeWire's PulseAudio
// service both answer.
#include "ServerWatch.h"

#include <pulse/pulseaudio.h>

#include <cstdlib>
#include <cstring>

namespace kelvane {
namespace {

using Clock = std::chrono::steady_clock;

int Percent(pa_volume_t v) {
  return static_cast<int>((static_cast<double>(v) * 100.0 / PA_VOLUME_NORM) + 0.5);
}

struct StreamInfo {
  std::uint32_t index = 0;
  std::uint32_t sink = 0;
  std::uint32_t client = PA_INVALID_INDEX;
  bool ours = false;
  bool corked = false;
  int rate_Hz = 0;
  pa_cvolume volume{};
  bool muted = false;
  std::string name;
};

// One connection with a private main loop, driven until a condition holds or time runs out.
class Session {
 public:
  explicit Session(Clock::time_point deadline) : deadline_(deadline) {
    loop_ = pa_mainloop_new();
    if (loop_ == nullptr) return;
    context_ = pa_context_new(pa_mainloop_get_api(loop_), "Kelvane server check");
    if (context_ == nullptr) return;
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return;
    RunUntil([this] {
      const pa_context_state_t s = pa_context_get_state(context_);
      return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
    });
  }
  ~Session() {
    if (context_ != nullptr) {
      pa_context_disconnect(context_);
      pa_context_unref(context_);
    }
    if (loop_ != nullptr) pa_mainloop_free(loop_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  bool Ready() const {
    return context_ != nullptr && pa_context_get_state(context_) == PA_CONTEXT_READY;
  }
  pa_context* Context() const { return context_; }

  // Waits for an operation to finish (and drops it); false on time-out or a lost server.
  bool Wait(pa_operation* op) {
    if (op == nullptr) return false;
    const bool done = RunUntil([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; });
    if (!done) pa_operation_cancel(op);
    pa_operation_unref(op);
    return done && Ready();
  }

 private:
  template <class Pred>
  bool RunUntil(Pred done) {
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::microseconds>(deadline_ - Clock::now());
      if (left.count() <= 0) return false;
      if (pa_mainloop_prepare(loop_, static_cast<int>(left.count())) < 0) return false;
      if (pa_mainloop_poll(loop_) < 0) return false;
      if (pa_mainloop_dispatch(loop_) < 0) return false;
    }
    return true;
  }

  Clock::time_point deadline_;
  pa_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
};

struct StreamList {
  pid_t pid = 0;
  std::vector<StreamInfo> streams;
  std::vector<std::uint32_t> ourClients;  // clients of our process
};

bool IsPid(const pa_proplist* props, pid_t pid) {
  const char* text = pa_proplist_gets(props, PA_PROP_APPLICATION_PROCESS_ID);
  return text != nullptr && std::atol(text) == static_cast<long>(pid);
}

extern "C" void OnSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user) {
  if (eol != 0 || info == nullptr) return;
  auto* list = static_cast<StreamList*>(user);
  StreamInfo s;
  s.index = info->index;
  s.sink = info->sink;
  s.client = info->client;
  s.corked = info->corked != 0;
  s.rate_Hz = static_cast<int>(info->sample_spec.rate);
  s.volume = info->volume;
  s.muted = info->mute != 0;
  s.ours = IsPid(info->proplist, list->pid);
  const char* app = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_NAME);
  s.name = app != nullptr ? app : (info->name != nullptr ? info->name : "");
  list->streams.push_back(std::move(s));
}

// PipeWire's own streams (its ALSA plugin) carry the process only on their client.
extern "C" void OnClient(pa_context*, const pa_client_info* info, int eol, void* user) {
  if (eol != 0 || info == nullptr) return;
  auto* list = static_cast<StreamList*>(user);
  if (IsPid(info->proplist, list->pid)) list->ourClients.push_back(info->index);
}

extern "C" void OnSink(pa_context*, const pa_sink_info* info, int eol, void* user) {
  if (eol != 0 || info == nullptr) return;
  auto* report = static_cast<ServerReport*>(user);
  report->sinkName = info->name != nullptr ? info->name : "";
  report->sinkRate_Hz = static_cast<int>(info->sample_spec.rate);
  report->sinkVolume_pct = Percent(pa_cvolume_min(&info->volume));
  report->sinkMuted = info->mute != 0;
}

extern "C" void OnSuccess(pa_context*, int success, void* user) {
  *static_cast<int*>(user) = success;
}

}  // namespace

ServerReport QueryServer(pid_t pid, std::chrono::milliseconds timeout) {
  ServerReport report;
  Session session(Clock::now() + timeout);
  if (!session.Ready()) return report;
  report.reached = true;

  StreamList list;
  list.pid = pid;
  if (!session.Wait(pa_context_get_sink_input_info_list(session.Context(), OnSinkInput, &list))) {
    return report;
  }
  if (!session.Wait(pa_context_get_client_info_list(session.Context(), OnClient, &list))) {
    return report;
  }
  for (StreamInfo& s : list.streams) {
    for (const std::uint32_t c : list.ourClients) s.ours = s.ours || s.client == c;
  }
  const StreamInfo* ours = nullptr;
  for (const StreamInfo& s : list.streams) {
    if (s.ours && (ours == nullptr || (ours->corked && !s.corked))) ours = &s;
  }
  if (ours == nullptr) return report;
  report.found = true;
  report.streamRate_Hz = ours->rate_Hz;
  report.streamMuted = ours->muted;
  report.streamVolume_pct = Percent(pa_cvolume_min(&ours->volume));
  if (pa_cvolume_min(&ours->volume) != PA_VOLUME_NORM) {
    // A session manager may restore an earlier, lower volume for our application name.
    pa_cvolume full = ours->volume;
    pa_cvolume_set(&full, full.channels, PA_VOLUME_NORM);
    int success = 0;
    if (session.Wait(pa_context_set_sink_input_volume(session.Context(), ours->index, &full,
                                                      OnSuccess, &success)) &&
        success != 0) {
      report.streamVolume_pct = 100;
    }
  }
  for (const StreamInfo& s : list.streams) {
    if (!s.ours && !s.corked && s.sink == ours->sink) report.others.push_back(s.name);
  }
  session.Wait(pa_context_get_sink_info_by_index(session.Context(), ours->sink, OnSink, &report));
  return report;
}

std::vector<ServerProblem> ServerProblems(const ServerReport& report, int rate_Hz) {
  std::vector<ServerProblem> problems;
  if (!report.found) return problems;
  const int actual = report.sinkRate_Hz > 0 ? report.sinkRate_Hz : report.streamRate_Hz;
  if (actual != rate_Hz || (report.streamRate_Hz > 0 && report.streamRate_Hz != rate_Hz)) {
    problems.push_back(
        {ServerProblem::Resampled,
         "the sound server resamples this output; the I/Q signal is not exact (" + report.sinkName +
             " runs at " + std::to_string(actual) + " Hz, the signal at " +
             std::to_string(rate_Hz) +
             " Hz). Let the server run at this rate or choose the sound card's hardware device "
             "(see \"Bit-exact output on PipeWire and PulseAudio\" in the README)"});
  }
  if (!report.others.empty()) {
    std::string names;
    for (const std::string& n : report.others) names += (names.empty() ? "" : ", ") + n;
    problems.push_back(
        {ServerProblem::Mixed, "the sound server mixes other sound into this output (" + names +
                                   "); the I/Q signal is not exact. Stop the other sound or choose "
                                   "another output device"});
  }
  if (report.streamMuted || report.sinkMuted) {
    problems.push_back({ServerProblem::Volume, "the sound server has muted this output (" +
                                                   report.sinkName + "). Unmute it"});
  } else if (report.streamVolume_pct != 100 || report.sinkVolume_pct != 100) {
    problems.push_back({ServerProblem::Volume,
                        "the sound server scales this output (stream volume " +
                            std::to_string(report.streamVolume_pct) + " %, " + report.sinkName +
                            " volume " + std::to_string(report.sinkVolume_pct) +
                            " %); the I/Q levels are not the ones set. Set both volumes to 100 %"});
  }
  return problems;
}

void RequestServerRate(int rate_Hz) {
  const char* off = std::getenv("KELVANE_FORCE_RATE");
  if (off != nullptr && std::strcmp(off, "0") == 0) return;
  // The user's own properties stay; ours follow them, so a later key wins in both formats.
  static const std::string userPulse = std::getenv("PULSE_PROP") ? std::getenv("PULSE_PROP") : "";
  static const bool userPipeWire = std::getenv("PIPEWIRE_PROPS") != nullptr;
  const std::string rate = std::to_string(rate_Hz);
  const std::string pulse = (userPulse.empty() ? "" : userPulse + " ") + "node.force-rate=" + rate;
  ::setenv("PULSE_PROP", pulse.c_str(), 1);
  if (!userPipeWire) ::setenv("PIPEWIRE_PROPS", ("{ node.force-rate = " + rate + " }").c_str(), 1);
}

void ServerWatch::Start(pid_t pid) {
  Stop();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = false;
    latest_.reset();
  }
  thread_ = std::thread([this, pid] { Run(pid); });
}

void ServerWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<ServerReport> ServerWatch::Latest() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return latest_;
}

void ServerWatch::Run(pid_t pid) {
  using namespace std::chrono_literals;
  std::unique_lock<std::mutex> lock(mutex_);
  // The first look waits until the stream has reached the server and its graph has settled.
  while (!wake_.wait_for(lock, 1s, [this] { return stop_; })) {
    lock.unlock();
    ServerReport report = QueryServer(pid, 2s);
    lock.lock();
    if (stop_) break;
    latest_ = std::move(report);
  }
}

}  // namespace kelvane
