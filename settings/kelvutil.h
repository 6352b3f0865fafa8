// SPDX-License-Identifier: GPL-3.0-or-later
// The small utility unit: the settings folder, the program's folder name and a bit test.
#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

// Name of the folder that holds our settings inside the per-user (or all-users) base folder.
inline constexpr const char* kSettingsFolderName = "kelvane";

// Full path of the running program ("" when it cannot be had).
std::string ProgramPath();

// The platform's base folder for application settings, "" when there is none:
// per-user $XDG_CONFIG_HOME (default $HOME/.config), all users the first entry of
// $XDG_CONFIG_DIRS (default /etc/xdg). Relative entries are ignored, as the XDG rules say.
std::string PlatformBaseFolder(bool allUsers);

// The settings folder, always ending in "/": base + "/kelvane/", or the program's own
// directory when no base folder can be had. With `create` the folder is made if missing
// (errors are ignored; a later save reports them).
std::string AppDataFolder(bool allUsers, bool create);

// The same rule with the base folder and the program path given (for tests and callers that
// already know them).
std::string AppDataFolderFrom(const std::string& baseFolder, const std::string& programPath,
                              bool create);

// Name of the directory that holds the program; for a program in the root, its file name
// with every "." made "_".
std::string ProgramFolderName(const std::string& programPath);

// True when bit n (taken modulo 32, bit 0 least significant) of value is set.
bool BitIsSet(std::int32_t value, int n);

}  // namespace kelvane
