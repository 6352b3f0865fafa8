// SPDX-License-Identifier: GPL-3.0-or-later
// The one text rule for the RDS texts: the engine sends Latin-1 bytes, people and files use UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// True for well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Latin-1 bytes of UTF-8 text typed by a person. Refuses (nullopt, and a one-line reason in
// `error` when given) text that is not valid UTF-8 or holds a character Latin-1 lacks.
std::optional<std::string> Latin1FromUtf8(std::string_view utf8, std::string* error = nullptr);

// Latin-1 bytes of text read from a file: valid UTF-8 is decoded and a character Latin-1 lacks
// becomes '?'; anything else was written as Latin-1 and is taken byte for byte.
std::string Latin1FromFileText(std::string_view text);

// UTF-8 form of Latin-1 bytes.
std::string Utf8FromLatin1(std::string_view latin1);

// RDS character codes (RdsCharset.h) of UTF-8 text. Refuses (nullopt, and a one-line reason in
// `error` when given) text that is not valid UTF-8 or holds a character the RDS set lacks, e.g.
// "the character 'ж' (U+0436) has no code in the RDS character set".
std::optional<std::string> RdsFromUtf8(std::string_view utf8, std::string* error = nullptr);
// The same for text read from a file: text that is not valid UTF-8 is read as Latin-1.
std::optional<std::string> RdsFromFileText(std::string_view text, std::string* error = nullptr);
// UTF-8 form of RDS character codes; a code without a character becomes '?'.
std::string Utf8FromRds(std::string_view codes);

// The first `maxChars` characters of UTF-8 text (bytes when the text is not valid UTF-8), so a
// cut never splits a character.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars);

}  // namespace kelvane
