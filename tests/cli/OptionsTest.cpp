// SPDX-License-Identifier: GPL-3.0-or-later
// Option parsing and the --set handling shared by the subcommands.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "TempDir.h"
#include "options.h"

namespace kelvane::cli {
namespace {

const std::vector<OptionSpec> kSpecs = {{"output", 'o', true, false, "OUT", ""},
                                        kSettingsOption,
                                        kSetOption,
                                        {"help", 'h', false, false, "", ""}};

TEST(Options, AcceptsTheUsualSpellings) {
  ParsedOptions p;
  std::string error;
  ASSERT_TRUE(ParseOptions(kSpecs, {"-o", "-", "--set", "A=1", "--set=B=2", "-h"}, p, error))
      << error;
  EXPECT_EQ(p.Get("output"), "-");
  ASSERT_EQ(p.All("set").size(), 2u);
  EXPECT_EQ(p.All("set")[1], "B=2");
  EXPECT_TRUE(p.Has("help"));
  ParsedOptions q;
  ASSERT_TRUE(ParseOptions(kSpecs, {"-oout.wav", "--settings=x.ini"}, q, error));
  EXPECT_EQ(q.Get("output"), "out.wav");
  EXPECT_EQ(q.Get("settings"), "x.ini");
}

TEST(Options, RejectsWhatItDoesNotKnow) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"-x"}, "unknown option '-x'"},
      {{"stray"}, "unexpected argument 'stray'"},
      {{"-o"}, "option --output needs a value (OUT)"},
      {{"-o", "a", "-o", "b"}, "option --output given more than once"},
      {{"--help=yes"}, "option --help takes no value"},
  };
  for (const auto& [args, message] : bad) {
    ParsedOptions p;
    std::string error;
    EXPECT_FALSE(ParseOptions(kSpecs, args, p, error)) << args[0];
    EXPECT_EQ(error, message);
  }
}

TEST(Options, SetOverridesTheSettingsFile) {
  kelvane::testing::TempDir tmp;
  const std::string path = tmp / "s.ini";
  kelvane::testing::WriteFile(path, "[General]\nSinePeakDev=20\nStereo=1\n");
  ParsedOptions p;
  std::string error, used;
  bool found = false;
  ASSERT_TRUE(ParseOptions(kSpecs,
                           {"--settings", path, "--set", "stereo=off", "--set",
                            "MaxOutputSwing=12,5", "--set", "rdsps=Caf\xC3\xA9"},
                           p, error));
  SettingsValues v;
  ASSERT_TRUE(LoadSettingsWithOverrides(p, v, used, found, error)) << error;
  EXPECT_EQ(used, path);
  EXPECT_TRUE(found);
  EXPECT_EQ(v.params[ParamId::SinePeakDev], 20.0);
  EXPECT_FALSE(v.stereo);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 12.5);
  EXPECT_EQ(v.rdsPS, "Caf\x82");  // UTF-8 typed, the RDS code of é sent

  // Strict: nothing is clamped or rewritten on the command line.
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"SinePeakDev=75000", "--set SinePeakDev=75000: out of range, kHz 0.0 .. 150.0"},
      {"Nope=1", "--set Nope=1: unknown settings key 'Nope' (see --help for the keys)"},
      {"Stereo=maybe", ""},
      {"SinePeakDev=", ""},
      {"=5", ""},
      {"SinePeakDev", ""},
      {"RDSPI=XYZ1", ""}};
  for (const auto& [set, message] : bad) {
    ParsedOptions p2;
    ASSERT_TRUE(ParseOptions(kSpecs, {"--settings", path, "--set", set}, p2, error));
    EXPECT_FALSE(LoadSettingsWithOverrides(p2, v, used, found, error)) << set;
    EXPECT_FALSE(error.empty());
    if (!message.empty()) {
      EXPECT_EQ(error, message);
    }
  }
}

// A file the user named (option or variable) that is missing is a warning; the default file
// missing is a first run and silent; a file that cannot be read is an error, not a hang or
// an abort.
TEST(Options, SettingsFileProblemsAreReported) {
  kelvane::testing::TempDir tmp;
  kelvane::testing::ScopedEnv xdg("XDG_CONFIG_HOME", tmp.path().c_str());
  kelvane::testing::ScopedEnv none("KELVANE_SETTINGS", nullptr);
  const auto run = [&](std::vector<std::string> args, bool& ok, std::string& error) {
    ParsedOptions p;
    EXPECT_TRUE(ParseOptions(kSpecs, args, p, error));
    SettingsValues v;
    std::string used;
    bool found = true;
    ::testing::internal::CaptureStderr();
    ok = LoadSettingsWithOverrides(p, v, used, found, error);
    return ::testing::internal::GetCapturedStderr();
  };
  bool ok = false;
  std::string error;
  const std::string missing = tmp / "missing.ini";
  EXPECT_EQ(
      run({"--settings", missing}, ok, error),
      "kelvane-cli: warning: settings file " + missing + " not found, using first-run values\n");
  EXPECT_TRUE(ok);
  EXPECT_EQ(run({}, ok, error), "");  // first run
  EXPECT_TRUE(ok);
  {
    kelvane::testing::ScopedEnv env("KELVANE_SETTINGS", missing.c_str());
    EXPECT_NE(run({}, ok, error).find("warning: settings file " + missing + " not found"),
              std::string::npos);
    EXPECT_TRUE(ok);
  }
  EXPECT_EQ(run({"--settings", "/dev/zero"}, ok, error), "");
  EXPECT_FALSE(ok);
  EXPECT_EQ(error, "cannot read settings file /dev/zero: is not a regular file");
}

}  // namespace
}  // namespace kelvane::cli
