// SPDX-License-Identifier: GPL-3.0-or-later
// kelvane-cli: dispatches to its subcommands.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "KelvaneVersion.h"
#include "analyze.h"
#include "audio_commands.h"
#include "options.h"
#include "render.h"

namespace {

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: kelvane-cli COMMAND [OPTIONS]\n\n"
               "Commands:\n"
               "  %s\n"
               "  %s\n"
               "  %s\n"
               "  %s\n\n"
               "Common options:\n"
               "  --settings FILE   settings file (else $KELVANE_SETTINGS, else\n"
               "                    ~/.config/kelvane/vantorex.ini)\n"
               "  --set KEY=VALUE   override a settings key for this run\n\n"
               "'kelvane-cli --version' prints the version.\n"
               "'kelvane-cli COMMAND --help' explains a command, its options and every key.\n",
               kelvane::cli::kRenderSummary, kelvane::cli::kPlaySummary,
               kelvane::cli::kDevicesSummary, kelvane::cli::kAnalyzeSummary);
}

}  // namespace

int main(int argc, char** argv) {
  // Numbers in files and read-outs never depend on the locale, but messages may.
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--version") {
    std::printf("%s %s\n", kelvane::cli::kProgramName, kelvane::kProgramVersion);
    return 0;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(stdout);
    if (command == "--help" || command == "-h") {
      std::fputs("\n", stdout);
      std::fputs(kelvane::cli::RenderHelp().c_str(), stdout);
      std::fputs("\n", stdout);
      std::fputs(kelvane::cli::PlayHelp().c_str(), stdout);
      std::fputs("\n", stdout);
      std::fputs(kelvane::cli::DevicesHelp().c_str(), stdout);
      std::fputs("\n", stdout);
      std::fputs(kelvane::cli::AnalyzeHelp().c_str(), stdout);
    }
    return 0;
  }
  if (command == "render") return kelvane::cli::RunRender(args);
  if (command == "play") return kelvane::cli::RunPlay(args);
  if (command == "devices") return kelvane::cli::RunDevices(args);
  if (command == "analyze") return kelvane::cli::RunAnalyze(args);
  kelvane::cli::PrintError("unknown command '" + command + "' (see kelvane-cli --help)");
  return 2;
}
