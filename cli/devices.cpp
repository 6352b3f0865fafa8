// SPDX-License-Identifier: GPL-3.0-or-later
// `kelvane-cli devices`: the output and input devices with the numbers that select them.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "DeviceList.h"
#include "QuietStderr.h"
#include "SdrDriver.h"
#include "audio_commands.h"
#include "options.h"

namespace kelvane::cli {
namespace {

const std::vector<OptionSpec>& DevicesOptions() {
  static const std::vector<OptionSpec> specs = {
      {"json", 0, false, false, "",
       "print the devices as JSON, with their channel counts and the sampling rates each "
       "accepts"},
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

void PrintList(const char* title, const std::vector<std::string>& names) {
  std::printf("%s\n", title);
  if (names.empty()) std::printf("  (none)\n");
  for (std::size_t i = 0; i < names.size(); ++i) std::printf("  %2zu  %s\n", i, names[i].c_str());
}

nlohmann::ordered_json DevicesJson(bool output) {
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  const auto caps = output ? GetDeviceCaps(true, sdr::DefaultSdrDriver()) : GetDeviceCaps(false);
  for (std::size_t i = 0; i < caps.size(); ++i) {
    list.push_back({{"number", i},
                    {"name", caps[i].name},
                    {"input_channels", caps[i].inputChannels},
                    {"output_channels", caps[i].outputChannels},
                    {"sampling_rates", caps[i].rates}});
  }
  return list;
}

}  // namespace

std::string DevicesHelp() {
  return "Usage: kelvane-cli devices [--json]\n\n"
         "Lists the output and the input devices in device-number order. A device is chosen\n"
         "by its name (AudioOutDeviceName / AudioInDeviceName in the settings, or\n"
         "'kelvane-cli play --output-device NAME') or by its number (AudioOutDevice /\n"
         "AudioInDevice, or --output-device NUMBER); a name is looked up first.\n"
         "With --json the output is one JSON object: \"output\" and \"input\" lists of\n"
         "{\"number\", \"name\", \"input_channels\", \"output_channels\", \"sampling_rates\"},\n"
         "the rates being those of 44100, 48000, 96000 and 192000 Hz the device accepts for\n"
         "16-bit stereo in that direction.\n"
         "SoapySDR transmitters follow the sound-card outputs as \"SDR: <label>\" (every\n"
         "sampling rate: the signal is resampled to the device's rate).\n\n"
         "Options:\n" +
         OptionsHelp(DevicesOptions());
}

int RunDevices(const std::vector<std::string>& args) {
  ParsedOptions opts;
  std::string error;
  if (!ParseOptions(DevicesOptions(), args, opts, error)) {
    PrintError(error + " (see kelvane-cli devices --help)");
    return 2;
  }
  if (opts.Has("help")) {
    std::fputs(DevicesHelp().c_str(), stdout);
    return 0;
  }
  if (opts.Has("json")) {
    nlohmann::ordered_json doc;
    {
      QuietStderr quiet;
      doc["output"] = DevicesJson(true);
      doc["input"] = DevicesJson(false);
    }
    // Names come from the sound system: never let one that is not UTF-8 stop the listing.
    const std::string text =
        doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fputs(text.c_str(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  std::vector<std::string> outs, ins;
  {
    QuietStderr quiet;
    outs = GetWaveOutDevices(sdr::DefaultSdrDriver());
    ins = GetWaveInDevices();
  }
  PrintList("Output devices:", outs);
  PrintList("Input devices:", ins);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kelvane::cli
