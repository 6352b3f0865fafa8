// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file: key table, encodings, defaults, load/save edge cases, path choice.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

#include "IniFile.h"
#include "SettingsFile.h"
#include "TempDir.h"
#include "TextCodec.h"

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
    "StereoEffect=100\nStereoPhase=0\nMultipath=0\nMDelay=0\nMVoltage=50\n"
    "PreEmphasis=0\nAudioLowPass=0\nRDSPTY=0\nRDSTP=1\nRDSTA=0\nRDSMS=1\nRDSDI=0\nRDSRT=\n"
    "RDSCT=0\nRDSAF=\nFileSource=0\nInputFile=\nInputFileLoop=0\nIQSwap=0\nChannelDelay=0\n"
    "SdrArgs=\nSdrFrequency=\nSdrRate=\nSdrGain=\nSdrAntenna=\n"
    "RemotePort=0\n";

// Temporary files of the atomic save still in `dir`: ".vantorex.ini.tmp-" and mkstemp's six
// letters or digits.
int TemporariesLeft(const TempDir& dir) {
  const std::string prefix = ".vantorex.ini.tmp-";
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    const std::string name = e.path().filename().string();
    if (name.size() != prefix.size() + 6 || name.rfind(prefix, 0) != 0) continue;
    n += std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                     [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
  }
  return n;
}

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
  ASSERT_EQ(SettingsKeys().size(), 57u);
  ASSERT_TRUE(SaveSettingsFile(path, v).ok);
  EXPECT_EQ(ReadFile(path), kDefaultFile);
  EXPECT_EQ(TemporariesLeft(tmp), 0);
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
  SettingsValues w;
  Load("[General]\nSamplingRate=-1\nBufferLength=5\nStereo=1\nSinePeakDev=20\n", w);
  EXPECT_TRUE(v.running);  // hexadecimal 1
  EXPECT_TRUE(v.stereo);   // any non-zero value
  EXPECT_FALSE(v.SineChecked());
  EXPECT_EQ(v.scopeFunc, 3);  // did not parse: default
  EXPECT_EQ(v.top, -40);      // nothing corrects a negative edge here
  EXPECT_EQ(v.left, 100);
  EXPECT_EQ(v.params[ParamId::MaxOutputSwing], 100.0);  // the spinner's maximum
  // An index the list lacks takes the first-run value and nothing else changes.
  EXPECT_EQ(v.samplingRate, 3);
  EXPECT_EQ(v.bufferLength, 4);
  EXPECT_EQ(w.samplingRate, 3);
  EXPECT_EQ(w.bufferLength, 2);
  EXPECT_TRUE(w.stereo);
  EXPECT_EQ(w.params[ParamId::SinePeakDev], 20.0);
  EXPECT_NE(out.find("\nRunning=1\n"), std::string::npos);
  EXPECT_NE(out.find("\nMaxOutputSwing=100\n"), std::string::npos);
  EXPECT_NE(out.find("\nSamplingRate=3\n"), std::string::npos);
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
      "CarrierFreq=abc\nMDelay=2,5\nPilotFrequency=1e9\nDCOffsetR=50.125\nStereoEffect=12.35\n",
      v);
  EXPECT_DOUBLE_EQ(v.params[ParamId::LRGainRatio], 0.92);
  EXPECT_DOUBLE_EQ(v.params[ParamId::DCOffsetL], 78.74);
  EXPECT_DOUBLE_EQ(v.params[ParamId::SinePeakDev], 12.3);  // one decimal shown
  EXPECT_EQ(v.params[ParamId::SineModFreq], 1000.0);       // empty: default
  EXPECT_EQ(v.params[ParamId::CarrierFreq], 0.0);          // unparsable: default
  EXPECT_EQ(v.params[ParamId::MDelay], 3.0);  // ties as the spinner shows them: "3 smp"
  EXPECT_EQ(v.params[ParamId::DCOffsetR], 50.13);
  EXPECT_EQ(v.params[ParamId::StereoEffect], 12.4);
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
  EXPECT_NE(out.find("\nRemotePort=0\n\n[Tail]\nStereo=1\n"), std::string::npos);
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

  // A write-protected file (root included) and a write that stops part-way (a file-size limit
  // standing in for a full disk) both leave the old text and no temporary file.
  const std::string file = tmp / "vantorex.ini";
  WriteFile(file, kDefaultFile);
  ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
  SettingsValues v;
  v.stereo = true;
  EXPECT_EQ(SaveSettingsFile(file, v).error, "Unable to write to " + file);
  EXPECT_EQ(ReadFile(file), kDefaultFile);
  ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
  v.audioOutDeviceName = std::string(4000, 'd');
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const SaveResult cut = SaveSettingsFile(file, v);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(ReadFile(file), kDefaultFile);
  EXPECT_EQ(TemporariesLeft(tmp), 0);
}

// Whatever cannot be read gives the first-run values and a reason, at once and without an
// exception: no hang on a FIFO, no endless read of /dev/zero.
TEST(SettingsFile, UnreadableFilesGiveFirstRunValuesAndAReason) {
  TempDir tmp;
  const std::string fifo = tmp / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/dev/zero", "cannot read settings file /dev/zero: is not a regular file"},
      {fifo, "cannot read settings file " + fifo + ": is not a regular file"},
      {tmp.path(), "cannot read settings file " + tmp.path() + ": is a folder"},
  };
  for (const auto& [path, message] : cases) {
    SettingsLoadReport report;
    const SettingsValues v = LoadSettingsFile(path, &report);
    EXPECT_EQ(report.status, SettingsLoadReport::Status::Unreadable) << path;
    EXPECT_EQ(report.message, message);
    EXPECT_EQ(v.params[ParamId::SinePeakDev], 10.0);
  }
  SettingsLoadReport report;
  LoadSettingsFile(tmp / "none.ini", &report);
  EXPECT_EQ(report.status, SettingsLoadReport::Status::Missing);
  EXPECT_EQ(report.message, "settings file " + (tmp / "none.ini") + " not found");
}

// One rule for the texts sent over RDS: RDS character codes in memory (what the engine
// sends), UTF-8 in the file; a file holding Latin-1 bytes still loads. A character the RDS set
// lacks, like a frequency outside the band, leaves the key at its first-run value and says so.
TEST(SettingsFile, RdsTextsAreRdsCodesInMemoryAndUtf8InTheFile) {
  SettingsValues v;
  std::string out = Load("[General]\nRDSPS=Caf\xC3\xA9 $\nRDSPI=c201\n", v);
  EXPECT_EQ(v.rdsPS, "Caf\x82 \xAB");  // é is 0x82 and $ is 0xAB in the RDS set
  EXPECT_NE(out.find("\nRDSPS=Caf\xC3\xA9 $\n"), std::string::npos);
  out = Load("[General]\nRDSPS=Caf\xE9\n", v);  // Latin-1 bytes: not UTF-8
  EXPECT_EQ(v.rdsPS, "Caf\x82");
  EXPECT_NE(out.find("\nRDSPS=Caf\xC3\xA9\n"), std::string::npos);

  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  WriteFile(path,
            "[General]\nRDSRT=\xE2\x84\xA6hm\nRDSAF=108.5\nRDSPTY=32\nRDSDI=2\nRDSTP=0\n"
            "PreEmphasis=2\n");
  SettingsLoadReport report;
  v = LoadSettingsFile(path, &report);
  EXPECT_EQ(v.rdsRT, "");
  EXPECT_EQ(v.programme.afCount, 0);
  EXPECT_EQ(v.programme.pty, 0);  // outside 0 .. 31: the first-run value, like a list index
  EXPECT_EQ(v.programme.di, 2);
  EXPECT_FALSE(v.programme.tp);
  EXPECT_EQ(v.programme.preEmphasis, 2);
  ASSERT_EQ(report.warnings.size(), 2u);
  EXPECT_EQ(report.warnings[0], "RDSRT in " + path +
                                    ": the character '\xE2\x84\xA6' (U+2126) has no code in the "
                                    "RDS character set; the first-run value is used");
  EXPECT_EQ(
      report.warnings[1],
      "RDSAF in " + path + ": 108.5 MHz is outside 87.6 .. 107.9 MHz; the first-run value is used");

  out = Load("[General]\nRDSAF= 87.6, 104.2 ,107.9\nRDSRT=Gr\xC3\xBC\xC3\x9F Gott\n", v);
  ASSERT_EQ(v.programme.afCount, 3);
  EXPECT_EQ(v.programme.af[0], 1);
  EXPECT_EQ(v.programme.af[1], 167);
  EXPECT_EQ(v.programme.af[2], 204);
  EXPECT_EQ(v.rdsRT, "Gr\x99\x8D Gott");
  EXPECT_NE(out.find("\nRDSRT=Gr\xC3\xBC\xC3\x9F Gott\n"), std::string::npos);
  EXPECT_NE(out.find("\nRDSAF=87.6,104.2,107.9\n"), std::string::npos);

  std::string why;
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong "/"
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_EQ(Utf8Prefix("a\xC3\xA9\xC3\xA9", 2), "a\xC3\xA9");
  EXPECT_FALSE(RdsFromUtf8("Caf\xE9", &why).has_value());  // a cut or Latin-1 byte
  EXPECT_EQ(why, "not valid UTF-8 text");
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
  v.bufferLength = 4;
  EXPECT_TRUE(ApplySettingText(v, *FindSettingsKey("BufferLength"), "5"));
  EXPECT_EQ(v.bufferLength, 2);
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
