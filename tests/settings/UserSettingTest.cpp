// SPDX-License-Identifier: GPL-3.0-or-later
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
      {"RDSPS=NINECHARS",
       "RDSPS=NINECHARS: too long (9 characters); up to 8 characters of the RDS set"},
      {"RDSPS=\xCE\xA9mega",
       "RDSPS=\xCE\xA9mega: the character '\xCE\xA9' (U+03A9) has no code in the RDS character "
       "set; up to 8 characters of the RDS set"},
      {"RDSRT=" + std::string(65, 'r'),
       "RDSRT=" + std::string(65, 'r') +
           ": too long (65 characters); up to 64 characters of the RDS set"},
      {"RDSPTY=32", "RDSPTY=32: out of range, code 0 .. 31"},
      {"PreEmphasis=75",
       "PreEmphasis=75: out of range, 0 = off, 1 = 50 us (Europe), 2 = 75 us "
       "(Americas)"},
      {"RDSAF=104.2,108",
       "RDSAF=104.2,108: 108 MHz is outside 87.6 .. 107.9 MHz; MHz 87.6 .. "
       "107.9, up to 25, separated by commas"},
      {"RDSAF=104.25", ""},
      {"RDSCT=2", "RDSCT=2: not a switch: 0 or 1 (also off/on, no/yes, false/true)"},
      {"InputFile=a\tb.wav", "InputFile=a\tb.wav: control characters are not allowed"},
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
  for (const char* typed :
       {"CarrierFreq=-5k", "PilotDeviation=6.8kHz", "SinePeakDev=75 kHz", "samplingrate=44.1k",
        "BufferLength=1s", "MaxOutputSwing=12,34", "RDSPS=Caf\xC3\xA9", "rdspi=c201", "Stereo=on",
        "DCOffsetL=50.125", "RDSRT= 5 \xE2\x82\xAC or $5 ", "rdsaf=87.6, 107.9", "RDSTA=on",
        "RDSDI=2", "InputFile=/m\xC3\xBAsica/a b.flac", "InputFileLoop=yes"}) {
    EXPECT_TRUE(ApplyUserSetting(v, typed, error)) << typed << ": " << error;
  }
  EXPECT_EQ(v.params[ParamId::CarrierFreq], -5000.0);
  EXPECT_EQ(v.params[ParamId::PilotDeviation], 6800.0);
  EXPECT_EQ(v.params[ParamId::SinePeakDev], 75.0);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 12.3);  // rounded as the spinner shows it
  EXPECT_EQ(v.params[ParamId::DCOffsetL], 50.13);
  EXPECT_EQ(v.samplingRate, 0);
  EXPECT_EQ(v.bufferLength, 4);
  EXPECT_EQ(v.rdsPS, "Caf\x82");  // four characters, é in the RDS set
  EXPECT_EQ(v.rdsRT,
            " 5 \xA9 or \xAB"
            "5 ");  // € and $; typed blanks are kept
  ASSERT_EQ(v.programme.afCount, 2);
  EXPECT_EQ(v.programme.af[1], 204);
  EXPECT_TRUE(v.programme.ta);
  EXPECT_EQ(v.programme.di, 2);
  EXPECT_EQ(v.rdsPI, "C201");
  EXPECT_TRUE(v.stereo);
  EXPECT_EQ(v.inputFile, "/m\xC3\xBAsica/a b.flac");
  EXPECT_TRUE(v.inputFileLoop);
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

TEST(UserSetting, OutputTrimAndSdrKeysTakeUnitsAndRefuseOutOfRange) {
  SettingsValues v;
  std::string error;
  for (const char* typed :
       {"SdrFrequency=98.5M", "SdrRate=8 MS/s", "SdrGain=-3.5 dB",
        "SdrArgs=driver=hackrf,serial=00ab", "SdrAntenna=TX/RX", "ChannelDelay=-8", "IQSwap=on"}) {
    EXPECT_TRUE(ApplyUserSetting(v, typed, error)) << typed << ": " << error;
  }
  EXPECT_EQ(v.sdr.frequency, "98500000");
  EXPECT_EQ(v.sdr.rate, "8000000");
  EXPECT_EQ(v.sdr.gain, "-3.5");
  EXPECT_EQ(v.sdr.args, "driver=hackrf,serial=00ab");
  EXPECT_EQ(v.sdr.antenna, "TX/RX");
  EXPECT_EQ(v.programme.channelDelay, -8);
  EXPECT_TRUE(v.programme.iqSwap);
  EXPECT_TRUE(ApplyUserSetting(v, "SdrGain=", error));
  EXPECT_EQ(v.sdr.gain, "");  // the device's minimum again

  const SettingsValues before = v;
  EXPECT_FALSE(ApplyUserSetting(v, "ChannelDelay=9", error));
  EXPECT_EQ(error, "ChannelDelay=9: out of range, smp -8 .. 8");
  EXPECT_FALSE(ApplyUserSetting(v, "SdrGain=300", error));
  EXPECT_EQ(error, "SdrGain=300: out of range, dB -200 .. 200, or empty");
  EXPECT_FALSE(ApplyUserSetting(v, "SdrFrequency=98.5 kB", error));
  EXPECT_NE(error.find("not a number; Hz 1 .. 2147483647 (k, M)"), std::string::npos) << error;
  EXPECT_EQ(v.sdr, before.sdr);
  EXPECT_EQ(v.programme, before.programme);
}

}  // namespace
}  // namespace kelvane
