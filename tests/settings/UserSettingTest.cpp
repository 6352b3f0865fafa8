// Typed settings are strict: values outside the range or of another form are refused with the
// key, its unit and its range; list values, units and unambiguous k/M suffixes are taken.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "UserSetting.h"

namespace kelvane {
namespace {

TEST(UserSetting, RefusesWhatTheFileWouldClampOrRewrite) {
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"SinePeakDev=75000", "SinePeakDev=75000: out of range, kHz 0.0 .. 150.0"},
      {"SinePeakDev=75k",
       "SinePeakDev=75k: the unit is kHz, give the number without a suffix; kHz 0.0 .. 150.0"},
      {"PilotDeviation=6.8", "PilotDeviation=6.8: out of range, Hz 4000 .. 10000"},
      {"CarrierFreq=50000", "CarrierFreq=50000: out of range, Hz -30000 .. 30000"},
      {"LRGainRatio=2.5", "LRGainRatio=2.5: out of range, ratio 0.50 .. 2.00"},
      {"DCOffsetL=fifty", "DCOffsetL=fifty: not a number; % of FS 10.00 .. 90.00"},
      {"MDelay=1e1", "MDelay=1e1: not a number in smp; smp 0 .. 20"},
      {"RDSPI=XYZ1", "RDSPI=XYZ1: not 1 to 4 hexadecimal digits, 0 .. FFFF"},
      {"RDSPI=12345", "RDSPI=12345: not 1 to 4 hexadecimal digits, 0 .. FFFF"},
      {"RDSPS=NINECHARS", "RDSPS=NINECHARS: too long (9 characters); up to 8 Latin-1 characters"},
      {"RDSPS=\xCE\xA9mega",
       "RDSPS=\xCE\xA9mega: the character '\xCE\xA9' (U+03A9) is not in Latin-1; up to 8 "
       "Latin-1 characters"},
      {"SamplingRate=22050",
       "SamplingRate=22050: not in the list: 44100, 48000, 96000 or 192000 Hz (48k), or the "
       "index 0..3"},
      {"SamplingRate=4", ""},
      {"BufferLength=250",
       "BufferLength=250: a length needs its unit (ms or s); 50ms, 100ms, 250ms, 500ms or 1s, "
       "or the index 0..4"},
      {"BufferLength=300ms", ""},
      {"Stereo=2", "Stereo=2: not a switch: 0 or 1 (also off/on, no/yes, false/true)"},
      {"ScopeFunc=6", "ScopeFunc=6: out of range, view 1 .. 5"},
      {"nope=1", "nope=1: unknown settings key 'nope'"},
      {"SinePeakDev", "expected KEY=VALUE, got 'SinePeakDev'"},
  };
  for (const auto& [typed, message] : refused) {
    SettingsValues v;
    const SettingsValues before = v;
    std::string error;
    EXPECT_FALSE(ApplyUserSetting(v, typed, error)) << typed;
    if (!message.empty()) {
      EXPECT_EQ(error, message);
    }
    EXPECT_EQ(v.params.v, before.params.v) << typed;
    EXPECT_EQ(v.rdsPS, before.rdsPS);
    EXPECT_EQ(v.samplingRate, before.samplingRate);
  }
}

TEST(UserSetting, TakesListValuesUnitsAndUnambiguousSuffixes) {
  SettingsValues v;
  std::string error;
  for (const char* typed : {"CarrierFreq=-5k", "PilotDeviation=6.8kHz", "SinePeakDev=75 kHz",
                            "samplingrate=44.1k", "BufferLength=1s", "MaxOutputSwing=12,34",
                            "RDSPS=Caf\xC3\xA9", "rdspi=c201", "Stereo=on", "DCOffsetL=50.125"}) {
    EXPECT_TRUE(ApplyUserSetting(v, typed, error)) << typed << ": " << error;
  }
  EXPECT_EQ(v.params[ParamId::CarrierFreq], -5000.0);
  EXPECT_EQ(v.params[ParamId::PilotDeviation], 6800.0);
  EXPECT_EQ(v.params[ParamId::SinePeakDev], 75.0);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 12.3);  // rounded as the spinner shows it
  EXPECT_EQ(v.params[ParamId::DCOffsetL], 50.13);
  EXPECT_EQ(v.samplingRate, 0);
  EXPECT_EQ(v.bufferLength, 4);
  EXPECT_EQ(v.rdsPS, "Caf\xE9");  // four characters, the bytes the window would send
  EXPECT_EQ(v.rdsPI, "C201");
  EXPECT_TRUE(v.stereo);
  for (const char* typed : {"SamplingRate=192000", "SamplingRate=3", "SamplingRate=192 kHz"}) {
    v.samplingRate = 0;
    EXPECT_TRUE(ApplyUserSetting(v, typed, error)) << typed;
    EXPECT_EQ(v.samplingRate, 3) << typed;
  }
  for (const char* typed : {"BufferLength=250ms", "BufferLength=0.25 s", "BufferLength=2"}) {
    v.bufferLength = 0;
    EXPECT_TRUE(ApplyUserSetting(v, typed, error)) << typed;
    EXPECT_EQ(v.bufferLength, 2) << typed;
  }
}

}  // namespace
}  // namespace kelvane
