// SPDX-License-Identifier: GPL-3.0-or-later
// A small INI reader/writer that stands in for the platform's private-profile functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// ASCII letters compared without case, as section and key names are.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Holds a whole INI file as lines, so that a save changes only the keys that were set and
// keeps every other line (comments, unknown keys, other sections, even junk) byte for byte.
// Section and key names compare case-insensitively (ASCII); the first match wins.
class IniFile {
 public:
  // Lines longer than this are kept on save but never read as a key.
  static constexpr std::size_t kMaxLineLength = 65536;
  // A settings file is small; anything bigger is not one (and /dev/zero would never end).
  static constexpr std::size_t kMaxFileSize = 1024 * 1024;

  enum class LoadStatus { Ok, Missing, Unreadable };

  // Replaces the content with the file's; a missing file gives an empty one. Reads only a
  // regular file of at most kMaxFileSize bytes, and never blocks (a FIFO is refused at once);
  // for Unreadable, `reason` (when given) receives why, e.g. "not a regular file".
  LoadStatus Load(const std::string& path, std::string* reason = nullptr);
  void Parse(std::string_view text);

  // Value of key in section, trimmed of spaces and tabs (the settings layer cuts text values
  // to their length); nullopt when the key is absent.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;

  // Sets the value of key (replacing its first occurrence in place, or adding it at the end of
  // its section, or adding the section at the end of the file). Line breaks and NUL bytes in
  // the value would break the file's structure and are written as spaces.
  void Set(std::string_view section, std::string_view key, std::string_view value);

  // The file text as Save would write it.
  std::string Text() const;

  // Writes a temporary file ".<name>.tmp-XXXXXX" beside `path`, flushes it to disk and renames
  // it over `path`, so a failed or interrupted save leaves the old file as it was. A symbolic
  // link is followed (its target is replaced, the link stays); only a regular file is
  // replaced, and only one that has a write permission bit set and that the user may write.
  // Temporaries of that pattern older than kStaleTemporaryAge, left by a killed save, are
  // removed first. On failure returns false and sets `error` to "Unable to write to <path>".
  bool Save(const std::string& path, std::string& error) const;

  // A live save takes well under this; an older temporary belongs to a save that died.
  static constexpr int kStaleTemporaryAge_s = 60;

 private:
  struct KeyRef {
    std::size_t line;
    std::string_view key;
    std::string_view value;
  };
  std::optional<std::size_t> FindSection(std::string_view section) const;
  std::optional<KeyRef> FindKey(std::size_t sectionLine, std::string_view key) const;

  std::vector<std::string> lines_;  // exactly as read, without the line break
  std::string newline_ = "\n";      // the file's own line break, kept on save
};

}  // namespace kelvane
