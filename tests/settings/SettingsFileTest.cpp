// The settings file: key table, encodings, defaults, load/save edge cases, path choice.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "IniFile.h"
#include "SettingsFile.h"
#include "TempDir.h"

namespace kelvane {
namespace {

using testing::ReadFile;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteFile;

const char* const kDefaultFile =
    "[General]\n"
    "Top=10\nLeft=100\nAudioInDevice=0\nAudioInDeviceName=(Default)\nAudioOutDevice=0\n"
    "AudioOutDeviceName=(Default)\nSineSource=1\nExtSource=0\nRunning=0\nStereo=0\nRDS=0\n"
    "DCCoupledDAC=0\nScopePreamp=0\nScopeFunc=3\nSinePeakDev=10\nSineModFreq=1000\n"
    "ExtModSens=1\nCarrierFreq=0\nMaxOutputSwing=10\nLRGainRatio=1\nLRPhaseOffset=0\n"
    "DCOffsetL=50\nDCOffsetR=50\nSamplingRate=3\nBufferLength=2\nRDSPS=PS Name\nRDSPI=FFFF\n"
    "PilotFrequency=19000\nPilotDeviation=6800\nRDSPhase=0\nRDSDeviation=2700\n"
    "StereoEffect=100\nStereoPhase=0\nMultipath=0\nMDelay=0\nMVoltage=50\n";

std::string Load(const std::string& text, SettingsValues& v) {
  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  WriteFile(path, text);
  v = LoadSettingsFile(path);
  const SaveResult r = SaveSettingsFile(path, v);
  EXPECT_TRUE(r.ok) << r.error;
  return ReadFile(path);
}

TEST(SettingsFile, FirstRunShowsTheKeyTableDefaultsAndSavesThemInOrder) {
  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  const SettingsValues v = LoadSettingsFile(path);
  EXPECT_EQ(v.top, 10);
  EXPECT_EQ(v.left, 100);
  EXPECT_EQ(v.audioOutDeviceName, "(Default)");
  EXPECT_TRUE(v.SineChecked());
  EXPECT_FALSE(v.running);
  EXPECT_EQ(v.params[ParamId::LRGainRatio], 1.0);
  EXPECT_EQ(v.params[ParamId::LRPhaseOffset], 0.0);
  EXPECT_EQ(v.params[ParamId::DCOffsetL], 50.0);
  EXPECT_EQ(v.params[ParamId::DCOffsetR], 50.0);
  EXPECT_EQ(v.params[ParamId::PilotDeviation], 6800.0);
  EXPECT_EQ(v.samplingRate, 3);
  EXPECT_EQ(v.bufferLength, 2);
  ASSERT_EQ(SettingsKeys().size(), 36u);
  ASSERT_TRUE(SaveSettingsFile(path, v).ok);
  EXPECT_EQ(ReadFile(path), kDefaultFile);
  EXPECT_FALSE(std::filesystem::exists(tmp / "vantorex.ini.tmp"));
}

TEST(SettingsFile, IntegerAndBooleanEncodings) {
  EXPECT_EQ(ParseSettingsInt("0x1"), 1);
  EXPECT_EQ(ParseSettingsInt("0X1f"), 31);
  EXPECT_EQ(ParseSettingsInt("0xFFFFFFFF"), -1);
  EXPECT_EQ(ParseSettingsInt("-5"), -5);
  EXPECT_EQ(ParseSettingsInt(" 12 "), 12);
  EXPECT_FALSE(ParseSettingsInt("0x").has_value());  // two characters: not hexadecimal
  EXPECT_FALSE(ParseSettingsInt("0x1FFFFFFFF").has_value());
  EXPECT_FALSE(ParseSettingsInt("12abc").has_value());
  EXPECT_FALSE(ParseSettingsInt("").has_value());
  EXPECT_FALSE(ParseSettingsInt("99999999999").has_value());

  SettingsValues v;
  const std::string out = Load(
      "[General]\nRunning=0x1\nStereo=7\nSineSource=0\nScopeFunc=0x\nTop=-40\nLeft=abc\n"
      "MaxOutputSwing=500\nSamplingRate=7\nBufferLength=4\n",
      v);
  EXPECT_TRUE(v.running);  // hexadecimal 1
  EXPECT_TRUE(v.stereo);   // any non-zero value
  EXPECT_FALSE(v.SineChecked());
  EXPECT_EQ(v.scopeFunc, 3);  // did not parse: default
  EXPECT_EQ(v.top, -40);      // nothing corrects a negative edge here
  EXPECT_EQ(v.left, 100);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 100.0);  // the spinner's maximum
  EXPECT_EQ(v.samplingRate, -1);                        // no entry 7: no selection
  EXPECT_EQ(v.bufferLength, 4);
  EXPECT_NE(out.find("\nRunning=1\n"), std::string::npos);
  EXPECT_NE(out.find("\nMaxOutputSwing=100\n"), std::string::npos);
  EXPECT_NE(out.find("\nSamplingRate=-1\n"), std::string::npos);
  EXPECT_NE(out.find("\nScopeFunc=3\n"), std::string::npos);
}

TEST(SettingsFile, SourceRadioPairFollowsTheLoadOrder) {
  SettingsValues v;
  v.sineSource = false;
  v.extSource = false;
  EXPECT_FALSE(v.SineChecked());  // neither on: Start runs from the input
  v.sineSource = v.extSource = true;
  EXPECT_FALSE(v.SineChecked());  // ExtSource is set last
  v.extSource = false;
  EXPECT_TRUE(v.SineChecked());
}

TEST(SettingsFile, FloatEncodingIsShortestAndAlwaysUsesAPoint) {
  EXPECT_EQ(FormatSettingsFloat(10), "10");
  EXPECT_EQ(FormatSettingsFloat(0.92), "0.92");
  EXPECT_EQ(FormatSettingsFloat(19000), "19000");
  EXPECT_EQ(FormatSettingsFloat(-31), "-31");
  EXPECT_EQ(FormatSettingsFloat(78.74), "78.74");
  EXPECT_EQ(FormatSettingsFloat(0.1 + 0.2), "0.3");  // 15 significant digits
  EXPECT_EQ(FormatSettingsFloat(-0.0), "0");
  EXPECT_EQ(ParseSettingsFloat("0,92"), 0.92);
  EXPECT_EQ(ParseSettingsFloat("0.92"), 0.92);
  EXPECT_EQ(ParseSettingsFloat("+1e3"), 1000.0);
  EXPECT_FALSE(ParseSettingsFloat("1,000.5").has_value());
  EXPECT_FALSE(ParseSettingsFloat("inf").has_value());
  EXPECT_FALSE(ParseSettingsFloat("nan").has_value());
  EXPECT_FALSE(ParseSettingsFloat("1e999").has_value());
  EXPECT_FALSE(ParseSettingsFloat("").has_value());
  EXPECT_FALSE(ParseSettingsFloat("12 kHz").has_value());
}

TEST(SettingsFile, FloatsAreReadWithEitherSeparatorAndNormalised) {
  SettingsValues v;
  const std::string out = Load(
      "[General]\nLRGainRatio=0,92\nDCOffsetL=78.74\nSinePeakDev=12.34\nSineModFreq=\n"
      "CarrierFreq=abc\nMDelay=2,6\nPilotFrequency=1e9\n",
      v);
  EXPECT_DOUBLE_EQ(v.params[ParamId::LRGainRatio], 0.92);
  EXPECT_DOUBLE_EQ(v.params[ParamId::DCOffsetL], 78.74);
  EXPECT_DOUBLE_EQ(v.params[ParamId::SinePeakDev], 12.3);  // one decimal shown
  EXPECT_EQ(v.params[ParamId::SineModFreq], 1000.0);       // empty: default
  EXPECT_EQ(v.params[ParamId::CarrierFreq], 0.0);          // unparsable: default
  EXPECT_EQ(v.params[ParamId::MDelay], 3.0);
  EXPECT_EQ(v.params[ParamId::PilotFrequency], 19020.0);
  EXPECT_NE(out.find("\nLRGainRatio=0.92\n"), std::string::npos);
  EXPECT_NE(out.find("\nSinePeakDev=12.3\n"), std::string::npos);
}

// Switches the process to a locale whose decimal separator is a comma, generating one into a
// private folder when none is installed; false when the system cannot provide one.
bool UseCommaLocale(const TempDir& tmp) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"}) {
    if (std::setlocale(LC_ALL, name)) return true;
  }
  if (!std::filesystem::exists("/usr/share/i18n/locales/de_DE")) return false;
  const std::string cmd =
      "localedef -i de_DE -f UTF-8 '" + (tmp / "de_DE.UTF-8") + "' >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0 && !std::filesystem::exists(tmp / "de_DE.UTF-8")) {
    return false;
  }
  ::setenv("LOCPATH", tmp.path().c_str(), 1);
  return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(SettingsFile, CommaLocaleStillWritesAPoint) {
  TempDir tmp;
  ScopedEnv locpath("LOCPATH", nullptr);
  if (!UseCommaLocale(tmp)) GTEST_SKIP() << "no locale with a decimal comma available";
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.2f", 0.92);
  const std::string localeText = probe;
  SettingsValues v;
  const std::string out = Load("[General]\nLRGainRatio=0.92\nDCOffsetR=60,5\n", v);
  std::setlocale(LC_ALL, "C");
  ASSERT_EQ(localeText, "0,92");  // the locale really uses a comma
  EXPECT_DOUBLE_EQ(v.params[ParamId::LRGainRatio], 0.92);
  EXPECT_DOUBLE_EQ(v.params[ParamId::DCOffsetR], 60.5);
  EXPECT_NE(out.find("\nLRGainRatio=0.92\n"), std::string::npos);
  EXPECT_NE(out.find("\nDCOffsetR=60.5\n"), std::string::npos);
}

TEST(SettingsFile, KeysAndSectionsItDoesNotWriteStayUntouched) {
  SettingsValues v;
  const std::string out =
      Load("; mine\n[Window]\ntop=1\n\n[General]\nCustomKey=xyz\ntop=5\nRDSPS=" +
               std::string(3000, 'p') + "\n\n[Tail]\nStereo=1\n",
           v);
  EXPECT_EQ(v.top, 5);
  EXPECT_EQ(v.rdsPS, std::string(2047, 'p'));
  EXPECT_FALSE(v.stereo);  // [Tail] is another section
  EXPECT_EQ(out.substr(0, 24), "; mine\n[Window]\ntop=1\n\n[");
  EXPECT_NE(out.find("[General]\nCustomKey=xyz\nTop=5\nRDSPS=" + std::string(2047, 'p') + "\n"),
            std::string::npos);
  EXPECT_NE(out.find("\nMVoltage=50\n\n[Tail]\nStereo=1\n"), std::string::npos);
}

TEST(SettingsFile, DeviceKeysAreLeftAloneWithoutSelection) {
  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  WriteFile(path,
            "[General]\nAudioInDevice=3\nAudioInDeviceName=USB Mic\nAudioOutDevice=1\n"
            "AudioOutDeviceName=Old\n");
  SettingsValues v = LoadSettingsFile(path);
  EXPECT_EQ(v.audioInDevice, 3);
  EXPECT_EQ(v.audioInDeviceName, "USB Mic");
  v.audioInDevice = -1;
  v.audioOutDevice = 2;
  v.audioOutDeviceName = "Speakers";
  ASSERT_TRUE(SaveSettingsFile(path, v).ok);
  const std::string out = ReadFile(path);
  EXPECT_NE(out.find("AudioInDevice=3\nAudioInDeviceName=USB Mic\n"), std::string::npos);
  EXPECT_NE(out.find("AudioOutDevice=2\nAudioOutDeviceName=Speakers\n"), std::string::npos);
  v.audioOutDevice = 0;
  SaveOptions noDevices;
  noDevices.writeDeviceKeys = false;
  ASSERT_TRUE(SaveSettingsFile(path, v, noDevices).ok);
  EXPECT_NE(ReadFile(path).find("AudioOutDevice=2\n"), std::string::npos);
}

TEST(SettingsFile, FailedSaveLeavesTheOldFileAndNamesThePath) {
  TempDir tmp;
  const std::string blocker = tmp / "blocker";
  WriteFile(blocker, "not a folder");
  const std::string path = blocker + "/vantorex.ini";
  const SaveResult r = SaveSettingsFile(path, SettingsValues{});
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(blocker), "not a folder");
}

TEST(SettingsFile, BinaryJunkFileLoadsDefaults) {
  std::string junk;
  for (int i = 0; i < 5000; ++i) junk += static_cast<char>((i * 7919) & 0xFF);
  SettingsValues v;
  const std::string out = Load(junk + "\n[General]\nStereo=1\n" + junk, v);
  EXPECT_TRUE(v.stereo);
  EXPECT_EQ(v.params[ParamId::SinePeakDev], 10.0);
  EXPECT_EQ(out.substr(0, junk.size()), junk);
}

TEST(SettingsFile, ApplySettingTextUsesTheFileEncodings) {
  SettingsValues v;
  const SettingsKey* key = FindSettingsKey("carrierfreq");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->name, "CarrierFreq");
  EXPECT_TRUE(ApplySettingText(v, *key, "-45000"));
  EXPECT_EQ(v.params[ParamId::CarrierFreq], -30000.0);
  EXPECT_FALSE(ApplySettingText(v, *key, "fast"));
  EXPECT_EQ(v.params[ParamId::CarrierFreq], -30000.0);
  EXPECT_TRUE(ApplySettingText(v, *FindSettingsKey("BufferLength"), "5"));
  EXPECT_EQ(v.bufferLength, -1);
  EXPECT_TRUE(ApplySettingText(v, *FindSettingsKey("RDSPI"), "C201"));
  EXPECT_EQ(SettingText(v, *FindSettingsKey("RDSPI")), "C201");
  EXPECT_EQ(FindSettingsKey("NoSuchKey"), nullptr);
}

TEST(FindItemIndex, FoldsOnlyAsciiLetters) {
  const std::vector<std::string> devices = {"Speakers", "USB Audio", "Çodec", "usb audio"};
  EXPECT_EQ(FindItemIndex(devices, "usb AUDIO", 7), 1);  // first match
  EXPECT_EQ(FindItemIndex(devices, "SPEAKERS", 7), 0);
  EXPECT_EQ(FindItemIndex(devices, "(Default)", 0), 0);  // no entry: the stored index
  EXPECT_EQ(FindItemIndex(devices, "(Default)", 5), 5);
  EXPECT_EQ(FindItemIndex(devices, "çODEC", 2 + 7), 9);  // "ç" is not folded to "Ç"
  EXPECT_EQ(FindItemIndex(devices, "ÇODEC", -1), 2);
  EXPECT_EQ(FindItemIndex({}, "Speakers", 3), 3);
}

TEST(SettingsPath, OptionWinsOverEnvironmentOverDefaultFolder) {
  TempDir tmp;
  ScopedEnv xdg("XDG_CONFIG_HOME", tmp.path().c_str());
  ScopedEnv none("KELVANE_SETTINGS", nullptr);
  EXPECT_EQ(ResolveSettingsPath(std::nullopt), tmp.path() + "/kelvane/vantorex.ini");
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "kelvane"));
  ScopedEnv empty("KELVANE_SETTINGS", "");
  EXPECT_EQ(ResolveSettingsPath(std::nullopt), tmp.path() + "/kelvane/vantorex.ini");
  ScopedEnv env("KELVANE_SETTINGS", "/srv/env.ini");
  EXPECT_EQ(ResolveSettingsPath(std::nullopt), "/srv/env.ini");
  EXPECT_EQ(ResolveSettingsPath(std::string("/srv/option.ini")), "/srv/option.ini");
}

}  // namespace
}  // namespace kelvane
