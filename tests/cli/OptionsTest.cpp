// Option parsing and the --set handling shared by the subcommands.
#include <gtest/gtest.h>

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
                            "MaxOutputSwing=0,5", "--set", "rdsps=HELLO"},
                           p, error));
  SettingsValues v;
  ASSERT_TRUE(LoadSettingsWithOverrides(p, v, used, found, error)) << error;
  EXPECT_EQ(used, path);
  EXPECT_TRUE(found);
  EXPECT_EQ(v.params[ParamId::SinePeakDev], 20.0);
  EXPECT_FALSE(v.stereo);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 1.0);  // clamped like the spinner
  EXPECT_EQ(v.rdsPS, "HELLO");

  for (const char* set : {"Nope=1", "Stereo=maybe", "SinePeakDev=", "=5", "SinePeakDev"}) {
    ParsedOptions bad;
    ASSERT_TRUE(ParseOptions(kSpecs, {"--settings", path, "--set", set}, bad, error));
    EXPECT_FALSE(LoadSettingsWithOverrides(bad, v, used, found, error)) << set;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace kelvane::cli
