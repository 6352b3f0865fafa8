// SPDX-License-Identifier: GPL-3.0-or-later
// The utility unit: settings folder, program folder name, bit test.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "kelvutil.h"

namespace kelvane {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

// The folder-name rule was written for paths with a drive prefix ("D:\Tools\Gen\prog.exe"),
// where the first separator that may count sits at position 3, right after the two-character
// drive. A Linux path has no drive prefix, so the same separator (the root's) is at position
// 1: every "/" of the directory counts, and a program in the root ("/prog.exe", like
// "D:\prog.exe") is named after its file.
TEST(ProgramFolderName, NamesTheFolderThatHoldsTheProgram) {
  EXPECT_EQ(ProgramFolderName("/opt/Tools/Gen/prog"), "Gen");
  EXPECT_EQ(ProgramFolderName("/opt/Tools/Gen/prog.exe"), "Gen");
  EXPECT_EQ(ProgramFolderName("/Tools/prog.exe"), "Tools");  // like D:\Tools\prog.exe
  EXPECT_EQ(ProgramFolderName("/usr/bin/kelvane"), "bin");
}

TEST(ProgramFolderName, ProgramInTheRootOrWithoutFolderUsesItsFileName) {
  EXPECT_EQ(ProgramFolderName("/prog.exe"), "prog_exe");
  EXPECT_EQ(ProgramFolderName("/my.prog.v2"), "my_prog_v2");
  EXPECT_EQ(ProgramFolderName("prog.exe"), "prog_exe");
  EXPECT_EQ(ProgramFolderName("Gen/prog.exe"), "prog_exe");    // no separator left to search
  EXPECT_EQ(ProgramFolderName("/opt//prog.exe"), "prog_exe");  // empty last folder name
}

TEST(AppDataFolder, PerUserFolderUnderXdgConfigHomeIsCreated) {
  TempDir tmp;
  const std::string base = tmp / "config";  // does not exist yet: a fresh account
  ScopedEnv xdg("XDG_CONFIG_HOME", base.c_str());
  EXPECT_EQ(AppDataFolder(false, false), base + "/kelvane/");
  EXPECT_FALSE(std::filesystem::exists(base + "/kelvane"));
  EXPECT_EQ(AppDataFolder(false, true), base + "/kelvane/");
  EXPECT_TRUE(std::filesystem::is_directory(base + "/kelvane"));
  ScopedEnv slash("XDG_CONFIG_HOME", (base + "/").c_str());
  EXPECT_EQ(AppDataFolder(false, false), base + "/kelvane/");
}

TEST(AppDataFolder, FallsBackToHomeConfigThenToTheProgramFolder) {
  TempDir tmp;
  ScopedEnv relative("XDG_CONFIG_HOME", "relative/dir");  // ignored: not absolute
  ScopedEnv home("HOME", tmp.path().c_str());
  EXPECT_EQ(AppDataFolder(false, false), tmp.path() + "/.config/kelvane/");
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_EQ(PlatformBaseFolder(false), "");
  EXPECT_EQ(AppDataFolderFrom("", "/opt/Tools/Gen/prog", true), "/opt/Tools/Gen/");
  EXPECT_FALSE(std::filesystem::exists("/opt/Tools/Gen"));
  const std::string self = ProgramPath();
  ASSERT_FALSE(self.empty());
  EXPECT_EQ(AppDataFolder(false, false), self.substr(0, self.rfind('/') + 1));
}

TEST(AppDataFolder, AllUsersUsesFirstAbsoluteConfigDir) {
  ScopedEnv dirs("XDG_CONFIG_DIRS", "relative:/srv/conf:/etc/other");
  EXPECT_EQ(PlatformBaseFolder(true), "/srv/conf");
  EXPECT_EQ(AppDataFolder(true, false), "/srv/conf/kelvane/");
  ScopedEnv none("XDG_CONFIG_DIRS", nullptr);
  EXPECT_EQ(AppDataFolder(true, false), "/etc/xdg/kelvane/");
}

TEST(BitIsSet, BitNumberIsTakenModulo32) {
  EXPECT_TRUE(BitIsSet(1, 0));
  EXPECT_FALSE(BitIsSet(1, 1));
  EXPECT_TRUE(BitIsSet(1, 32));
  EXPECT_TRUE(BitIsSet(4, 34));
  EXPECT_TRUE(BitIsSet(INT32_MIN, 31));
  EXPECT_FALSE(BitIsSet(INT32_MAX, 31));
  EXPECT_TRUE(BitIsSet(INT32_MIN, -1));  // -1 mod 32 = 31
  EXPECT_TRUE(BitIsSet(0x031, 5));
  EXPECT_FALSE(BitIsSet(0x031, 3));
  for (int n = 0; n < 64; ++n) EXPECT_TRUE(BitIsSet(-1, n)) << n;
}

}  // namespace
}  // namespace kelvane
