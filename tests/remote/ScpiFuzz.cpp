// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target of the SCPI parser: any bytes, split into lines as the server splits them,
// run against an instrument held in memory. Checks that every answer is one terminated line
// (a definite-length block apart) and that the error queue keeps its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Instrument.h"
#include "RemoteServer.h"
#include "ScpiSession.h"

namespace {

class MemoryInstrument final : public kelvane::remote::Instrument {
 public:
  kelvane::SettingsValues Settings() const override { return values_; }
  bool ApplySettings(const kelvane::SettingsValues& v, std::string&) override {
    values_ = v;
    return true;
  }
  bool Output() const override { return on_; }
  bool SetOutput(bool on, std::string& error) override {
    if (on && values_.samplingRate == 0) {
      error = "refused at 44100 Hz";  // a start that fails, too
      return false;
    }
    on_ = on;
    return true;
  }
  kelvane::remote::Readings Measure() const override { return {}; }
  // A folder that does not exist: SAVE and LOAD fail and never write anything.
  std::string SettingsPath() const override { return "/nonexistent-kelvane-fuzz/vantorex.ini"; }
  std::string Version() const override { return "fuzz"; }

 private:
  kelvane::SettingsValues values_;
  bool on_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  MemoryInstrument instrument;
  kelvane::remote::ScpiSession session(instrument);
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    const std::size_t nl = input.find('\n');
    const std::string_view line = input.substr(0, nl);
    input.remove_prefix(nl == std::string_view::npos ? input.size() : nl + 1);
    if (line.size() > kelvane::remote::RemoteServer::kMaxLine) continue;  // the server drops it
    const std::string answer = session.Execute(line);
    if (!answer.empty() && answer.back() != '\n') std::abort();
    if (answer.find('\n') != answer.size() - 1 && answer.find('#') == std::string::npos &&
        !answer.empty()) {
      std::abort();
    }
    if (session.Errors().Count() > kelvane::remote::ErrorQueue::kCapacity) std::abort();
  }
  return 0;
}
