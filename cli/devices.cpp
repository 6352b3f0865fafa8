// `kelvane-cli devices`: the output and input devices with the numbers that select them.
#include <cstdio>
#include <string>

#include "DeviceList.h"
#include "QuietStderr.h"
#include "audio_commands.h"
#include "options.h"

namespace kelvane::cli {
namespace {

const std::vector<OptionSpec>& DevicesOptions() {
  static const std::vector<OptionSpec> specs = {
      {"help", 'h', false, false, "", "show this help"},
  };
  return specs;
}

void PrintList(const char* title, const std::vector<std::string>& names) {
  std::printf("%s\n", title);
  if (names.empty()) std::printf("  (none)\n");
  for (std::size_t i = 0; i < names.size(); ++i) std::printf("  %2zu  %s\n", i, names[i].c_str());
}

}  // namespace

std::string DevicesHelp() {
  return "Usage: kelvane-cli devices\n\n"
         "Lists the output and the input devices in device-number order. A device is chosen\n"
         "by its name (AudioOutDeviceName / AudioInDeviceName in the settings, or\n"
         "'kelvane-cli play --output-device NAME') or by its number (AudioOutDevice /\n"
         "AudioInDevice, or --output-device NUMBER); a name is looked up first.\n\n"
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
  std::vector<std::string> outs, ins;
  {
    QuietStderr quiet;
    outs = GetWaveOutDevices();
    ins = GetWaveInDevices();
  }
  PrintList("Output devices:", outs);
  PrintList("Input devices:", ins);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kelvane::cli
