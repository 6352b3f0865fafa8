// SPDX-License-Identifier: GPL-3.0-or-later
// The INI layer: lookup rules, in-place updates, junk tolerance and the atomic save.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "IniFile.h"
#include "TempDir.h"

namespace kelvane {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(IniFile, LookupIsCaseInsensitiveTrimmedAndFirstMatchWins) {
  IniFile ini;
  ini.Parse("[general]\n  top =  42  \nTOP=7\n[Other]\nLeft=1\n[GENERAL]\nLeft=9\n");
  EXPECT_EQ(ini.Get("General", "Top"), "42");
  EXPECT_EQ(ini.Get("GENERAL", "tOp"), "42");
  EXPECT_FALSE(ini.Get("General", "Left").has_value());  // only the first section counts
  EXPECT_EQ(ini.Get("other", "left"), "1");
  EXPECT_FALSE(ini.Get("Missing", "Top").has_value());
}

TEST(IniFile, JunkLinesAreIgnoredWithoutHarm) {
  std::string text = "garbage before any section\n[General]\n";
  text += "no equal sign here\n";
  text += "=value without key\n";
  text += std::string("Top=1\0 2", 8) + "\n";  // NUL inside: the whole line is ignored
  text += std::string(IniFile::kMaxLineLength + 10, 'x').replace(0, 5, "Left=") + "\n";
  text += "\xFF\xFE\x01\x80\x9F binary =\x7F\n";
  text += "[unterminated section\n";
  text += "ScopeFunc=5\r\n";
  text += "Stereo=1";  // no final line break
  IniFile ini;
  ini.Parse(text);
  EXPECT_FALSE(ini.Get("General", "Top").has_value());
  EXPECT_FALSE(ini.Get("General", "Left").has_value());
  EXPECT_EQ(ini.Get("General", "ScopeFunc"), "5");  // stray CR trimmed
  EXPECT_EQ(ini.Get("General", "Stereo"), "1");
  EXPECT_EQ(ini.Get("General", "\xFF\xFE\x01\x80\x9F binary"), "\x7F");
  // Untouched junk goes back out byte for byte.
  ini.Set("General", "Stereo", "0");
  const std::string out = ini.Text();
  EXPECT_NE(out.find(std::string("Top=1\0 2\n", 9)), std::string::npos);
  EXPECT_NE(out.find("no equal sign here\n=value without key\n"), std::string::npos);
  EXPECT_NE(out.find("ScopeFunc=5\r\nStereo=0\n"), std::string::npos);
}

// Only a regular file of at most 1 MiB is read; everything else is refused at once with a
// reason (a FIFO without a writer would block a plain open() for ever).
TEST(IniFile, LoadReadsOnlyRegularFilesOfSaneSize) {
  TempDir tmp;
  IniFile ini;
  std::string reason;
  EXPECT_EQ(ini.Load(tmp / "none.ini", &reason), IniFile::LoadStatus::Missing);
  EXPECT_EQ(ini.Load(tmp.path(), &reason), IniFile::LoadStatus::Unreadable);
  EXPECT_EQ(reason, "is a folder");
  EXPECT_EQ(ini.Load("/dev/zero", &reason), IniFile::LoadStatus::Unreadable);
  EXPECT_EQ(reason, "is not a regular file");
  const std::string fifo = tmp / "fifo.ini";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ini.Load(fifo, &reason), IniFile::LoadStatus::Unreadable);
  EXPECT_EQ(reason, "is not a regular file");
  const std::string big = tmp / "big.ini";
  WriteFile(big, "[General]\nTop=5\n" + std::string(IniFile::kMaxFileSize, '\n'));
  EXPECT_EQ(ini.Load(big, &reason), IniFile::LoadStatus::Unreadable);
  EXPECT_EQ(reason, "is larger than 1 MiB");
  WriteFile(big, "[General]\nTop=5\n" + std::string(IniFile::kMaxFileSize - 16, '\n'));
  ASSERT_EQ(ini.Load(big), IniFile::LoadStatus::Ok);  // exactly 1 MiB still loads
  EXPECT_EQ(ini.Get("General", "Top"), "5");
}

TEST(IniFile, SetKeepsEveryOtherLineAndItsPlace) {
  const std::string before =
      "; written by hand\n[Other]\nfoo = bar\n\n[General]\nCustom=xyz\nTop=5\n\n[Tail]\nz=1\n";
  IniFile ini;
  ini.Parse(before);
  ini.Set("general", "TOP", "10");         // replaced in place
  ini.Set("General", "Left", "100");       // appended to the section, before the blank line
  ini.Set("Fresh", "Key", "line\nbreak");  // a new section; the break must not split the line
  EXPECT_EQ(ini.Text(),
            "; written by hand\n[Other]\nfoo = bar\n\n[General]\nCustom=xyz\nTOP=10\n"
            "Left=100\n\n[Tail]\nz=1\n\n[Fresh]\nKey=line break\n");
}

TEST(IniFile, WindowsLineBreaksAreKept) {
  IniFile ini;
  ini.Parse("[General]\r\nTop=5\r\n");
  ini.Set("General", "Left", "3");
  EXPECT_EQ(ini.Text(), "[General]\r\nTop=5\r\nLeft=3\r\n");
}

TEST(IniFile, SaveReplacesTheFileAndKeepsItsMode) {
  TempDir tmp;
  const std::string path = tmp / "a.ini";
  WriteFile(path, "[General]\nTop=5\n");
  ::chmod(path.c_str(), 0600);
  IniFile ini;
  ASSERT_EQ(ini.Load(path), IniFile::LoadStatus::Ok);
  ini.Set("General", "Top", "6");
  std::string error = "stale";
  ASSERT_TRUE(ini.Save(path, error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(ReadFile(path), "[General]\nTop=6\n");
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // Only the file itself is left in the folder: no temporary beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
}

// Failures that hold for root as well: a parent that is a regular file, a target that is a
// folder, and a file-size limit standing in for a full disk.
TEST(IniFile, FailedSaveReportsThePathAndLeavesTheOldFile) {
  TempDir tmp;
  IniFile ini;
  ini.Parse("[General]\nTop=1\n");
  std::string error;

  const std::string notADir = tmp / "plain";
  WriteFile(notADir, "x");
  EXPECT_FALSE(ini.Save(notADir + "/vantorex.ini", error));
  EXPECT_EQ(error, "Unable to write to " + notADir + "/vantorex.ini");

  std::filesystem::create_directory(tmp / "dir.ini");
  EXPECT_FALSE(ini.Save(tmp / "dir.ini", error));
  EXPECT_EQ(error, "Unable to write to " + (tmp / "dir.ini"));
  EXPECT_TRUE(std::filesystem::is_directory(tmp / "dir.ini"));

  const std::string path = tmp / "vantorex.ini";
  const std::string old = "[General]\nTop=99\nKeep=me\n";
  WriteFile(path, old);
  IniFile big;
  big.Parse(old);
  big.Set("General", "Pad", std::string(2000, 'p'));
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 512;  // the new text is over 2000 bytes: the write stops part-way
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved_ok = big.Save(path, error);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved_ok);
  EXPECT_EQ(error, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(path), old);
  // The partial temporary file is gone.
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 3);  // plain, dir.ini, vantorex.ini
}

// Write protection holds even for root (for whom access() always says yes): a file without
// any write bit is a save failure and stays as it was.
TEST(IniFile, ReadOnlyFileIsNotReplaced) {
  TempDir tmp;
  const std::string path = tmp / "vantorex.ini";
  const std::string old = "[General]\nTop=5\n";
  WriteFile(path, old);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  IniFile ini;
  ini.Parse(old);
  ini.Set("General", "Top", "6");
  std::string error;
  EXPECT_FALSE(ini.Save(path, error));
  EXPECT_EQ(error, "Unable to write to " + path);
  EXPECT_EQ(ReadFile(path), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()), {}), 1);
}

// A link is followed: its target gets the new text and the link itself stays a link.
TEST(IniFile, SaveThroughASymbolicLinkWritesItsTarget) {
  TempDir tmp;
  std::filesystem::create_directory(tmp / "real");
  const std::string target = tmp / "real/settings.ini";
  const std::string link = tmp / "vantorex.ini";
  WriteFile(target, "[General]\nTop=5\n");
  std::filesystem::create_symlink("real/settings.ini", link);
  IniFile ini;
  ASSERT_EQ(ini.Load(link), IniFile::LoadStatus::Ok);
  ini.Set("General", "Top", "6");
  std::string error;
  ASSERT_TRUE(ini.Save(link, error)) << error;
  EXPECT_TRUE(std::filesystem::is_symlink(link));
  EXPECT_EQ(ReadFile(target), "[General]\nTop=6\n");
}

// A killed save leaves ".NAME.tmp-XXXXXX" behind; the next save of the same file removes such
// files once they are a minute old, and nothing else: not a fresh one (a concurrent save may
// be writing it), not another file's, not a near miss of the pattern, not a folder.
TEST(IniFile, SaveRemovesOnlyStaleTemporariesOfItsOwnFile) {
  TempDir tmp;
  const auto make = [&](const std::string& name, bool old) {
    WriteFile(tmp / name, "x");
    if (old) {
      const struct timespec times[2] = {{std::time(nullptr) - 120, 0},
                                        {std::time(nullptr) - 120, 0}};
      ::utimensat(AT_FDCWD, (tmp / name).c_str(), times, 0);
    }
  };
  make(".vantorex.ini.tmp-Ab3dE9", true);   // stale: goes
  make(".vantorex.ini.tmp-Fresh1", false);  // live: stays
  make(".other.ini.tmp-Ab3dE9", true);      // another target's
  make(".vantorex.ini.tmp-Ab3dE", true);    // five characters
  make(".vantorex.ini.tmp-Ab3d_9", true);   // not mkstemp's alphabet
  make("vantorex.ini.tmp-Ab3dE9", true);    // no leading dot
  std::filesystem::create_directory(tmp / ".vantorex.ini.tmp-Dir123");
  IniFile ini;
  ini.Parse("[General]\nTop=1\n");
  std::string error;
  ASSERT_TRUE(ini.Save(tmp / "vantorex.ini", error)) << error;
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(tmp.path())) {
    left.push_back(e.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{".other.ini.tmp-Ab3dE9", ".vantorex.ini.tmp-Ab3dE",
                                            ".vantorex.ini.tmp-Ab3d_9", ".vantorex.ini.tmp-Dir123",
                                            ".vantorex.ini.tmp-Fresh1", "vantorex.ini",
                                            "vantorex.ini.tmp-Ab3dE9"}));
}

}  // namespace
}  // namespace kelvane
