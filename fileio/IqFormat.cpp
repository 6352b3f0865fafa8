// SPDX-License-Identifier: GPL-3.0-or-later
// Which container a recording goes into.
#include <string_view>

#include "IqFileWriter.h"

namespace kelvane {
namespace {

bool EndsWith(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

std::optional<IqFormat> ChooseIqFormat(const std::string& path, const std::string& formatOption,
                                       std::string& error) {
  static const std::pair<std::string_view, IqFormat> kNames[] = {
      {"wav", IqFormat::Wav}, {"sigmf", IqFormat::SigMF}, {"sigmf-cf32", IqFormat::SigMFcf32},
      {"raw", IqFormat::Raw}, {"ci16", IqFormat::Raw},    {"cf32", IqFormat::Cf32}};
  if (!formatOption.empty()) {
    for (const auto& [name, format] : kNames) {
      if (formatOption == name) return format;
    }
    error = "--format " + formatOption + ": not one of wav, sigmf, sigmf-cf32, raw, cf32";
    return std::nullopt;
  }
  if (path == "-") return IqFormat::Raw;
  if (EndsWith(path, ".wav")) return IqFormat::Wav;
  if (EndsWith(path, ".sigmf") || EndsWith(path, ".sigmf-data") || EndsWith(path, ".sigmf-meta")) {
    return IqFormat::SigMF;
  }
  if (EndsWith(path, ".raw") || EndsWith(path, ".ci16") || EndsWith(path, ".iq")) {
    return IqFormat::Raw;
  }
  if (EndsWith(path, ".cf32") || EndsWith(path, ".cfile")) return IqFormat::Cf32;
  // Any other name (a device, a FIFO, a name without a suffix) gets a WAV file, as always.
  return IqFormat::Wav;
}

}  // namespace kelvane
