// SPDX-License-Identifier: GPL-3.0-or-later
// The SigMF metadata of a recording: the core fields SDR tools read, and every Kelvane setting
// under the declared "kelvane" extension so that a recording documents how it was made.
#include <cmath>
#include <ctime>
#include <nlohmann/json.hpp>

#include "IqFileWriter.h"
#include "KelvaneVersion.h"

namespace kelvane {
namespace {

// ISO 8601 in UTC with "Z"; fractions of a second only when there are any (to the µs).
std::string IsoUtc(double t) {
  double whole = std::floor(t);
  auto micros = static_cast<long>(std::lround((t - whole) * 1e6));
  if (micros >= 1000000) {
    whole += 1.0;
    micros -= 1000000;
  }
  const auto secs = static_cast<std::time_t>(whole);
  std::tm tm{};
  ::gmtime_r(&secs, &tm);
  char text[48];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string s = text;
  if (micros != 0) {
    char frac[32];
    std::snprintf(frac, sizeof frac, ".%06ld", micros);
    std::string f = frac;
    while (f.back() == '0') f.pop_back();
    s += f;
  }
  return s + "Z";
}

}  // namespace

std::string SigMFMetaText(const IqMetadata& meta, bool cf32) {
  using nlohmann::ordered_json;
  ordered_json settings = ordered_json::object();
  for (const auto& [key, value] : meta.settings) settings[key] = value;
  ordered_json global = {
      {"core:datatype", cf32 ? "cf32_le" : "ci16_le"},
      {"core:sample_rate", static_cast<double>(meta.sampleRate)},
      {"core:version", "1.2.0"},
      {"core:recorder",
       meta.recorder.empty() ? std::string("kelvane ") + kProgramVersion : meta.recorder},
      {"core:description", meta.description},
      {"core:extensions",
       ordered_json::array({{{"name", "kelvane"}, {"version", "1.0.0"}, {"optional", true}}})},
      {"kelvane:settings", settings},
  };
  ordered_json capture = {{"core:sample_start", 0}, {"core:datetime", IsoUtc(meta.startUtc)}};
  if (meta.centerFrequency) capture["core:frequency"] = *meta.centerFrequency;
  const ordered_json doc = {{"global", global},
                            {"captures", ordered_json::array({capture})},
                            {"annotations", ordered_json::array()}};
  // A text key that is not UTF-8 (a hand-edited file) must not stop the recording.
  return doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace kelvane
