// SPDX-License-Identifier: GPL-3.0-or-later
// Load -> save -> reload keeps every value, over a corpus of awkward files and seeded mutations
// of them (a cheap stand-in for a fuzzer that runs in every test run).
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "SettingsFile.h"
#include "TempDir.h"

namespace kelvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(KELVANE_SETTINGS_CORPUS)) {
    if (e.path().extension() == ".ini") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Every key as the file would hold it, plus the raw RDS bytes.
std::vector<std::string> Snapshot(const SettingsValues& v) {
  std::vector<std::string> s;
  for (const auto& key : SettingsKeys()) s.push_back(SettingText(v, key));
  s.push_back(v.rdsPS);
  s.push_back(v.rdsPI);
  return s;
}

// Loads `text`, saves, loads again and saves again: the values of both loads and the texts of
// both saves must agree. Returns the first load.
SettingsValues ExpectRoundTrip(const std::string& text, const std::string& what) {
  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  WriteFile(path, text);
  const SettingsValues first = LoadSettingsFile(path);
  EXPECT_TRUE(SaveSettingsFile(path, first).ok) << what;
  const std::string saved = ReadFile(path);
  const SettingsValues second = LoadSettingsFile(path);
  EXPECT_EQ(Snapshot(first), Snapshot(second)) << what;
  EXPECT_TRUE(SaveSettingsFile(path, second).ok) << what;
  EXPECT_EQ(ReadFile(path), saved) << what;
  return first;
}

TEST(SettingsRoundTrip, CorpusFilesKeepEveryValue) {
  const auto files = CorpusFiles();
  ASSERT_GE(files.size(), 5u);
  for (const auto& f : files) ExpectRoundTrip(ReadFile(f.string()), f.filename().string());
}

// The two losses that were found: a CR inside a text, and a cut at 2047 characters that ends
// in a space. A load drops both for good, so the save writes what the next load reads.
TEST(SettingsRoundTrip, LoadKeepsOnlyWhatASaveCanWrite) {
  SettingsValues v = ExpectRoundTrip("[General]\nRDSPS=Radio\rOne \r\nRDSPI=\r12\n", "CR");
  EXPECT_EQ(v.rdsPS, "Radio One");
  EXPECT_EQ(v.rdsPI, "12");
  v = ExpectRoundTrip("[General]\nAudioOutDeviceName=" + std::string(2046, 'x') + " tail\n", "cut");
  EXPECT_EQ(v.audioOutDeviceName, std::string(2046, 'x'));
  // Latin-1 in the file doubles in length as UTF-8; the cut counts characters, not bytes.
  v = ExpectRoundTrip("[General]\nRDSPS=" + std::string(3000, '\xE9') + "\n", "latin1");
  EXPECT_EQ(v.rdsPS, std::string(2047, '\x82'));  // é in the RDS set
}

// Seeded mutations of the corpus: bytes flipped, inserted (line breaks, blanks, '=', brackets,
// NUL, pieces of UTF-8) and deleted, and lines of real keys spliced in.
TEST(SettingsRoundTrip, MutatedCorpusKeepsEveryValue) {
  const std::string nasty[] = {"\r",
                               "\n",
                               " ",
                               "\t",
                               "=",
                               "[",
                               "]",
                               std::string(1, '\0'),
                               "\xE9",
                               "\xC3",
                               "\xA9",
                               "\xE2\x82\xAC",
                               "[General]\n",
                               "\nRDSPS=",
                               "\nSinePeakDev=",
                               "\nSamplingRate=",
                               "0x",
                               std::string(2040, 'w')};
  std::mt19937 rng(20261209);
  int cases = 0;
  for (const auto& f : CorpusFiles()) {
    const std::string base = ReadFile(f.string());
    for (int n = 0; n < 40; ++n) {
      std::string text = base;
      const int edits = 1 + static_cast<int>(rng() % 8);
      for (int e = 0; e < edits; ++e) {
        const std::size_t at = text.empty() ? 0 : rng() % (text.size() + 1);
        switch (rng() % 3) {
          case 0:
            if (at < text.size()) text[at] = static_cast<char>(rng() & 0xFF);
            break;
          case 1:
            text.insert(at, nasty[rng() % std::size(nasty)]);
            break;
          default:
            text.erase(at, rng() % 16);
            break;
        }
      }
      ExpectRoundTrip(text, f.filename().string() + " mutation " + std::to_string(n));
      ++cases;
    }
  }
  EXPECT_GE(cases, 200);
}

}  // namespace
}  // namespace kelvane
