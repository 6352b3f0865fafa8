// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 <-> Latin-1 for the RDS texts, and character-safe cuts of UTF-8 text.
#include "TextCodec.h"

#include <cstdint>
#include <cstdio>

#include "RdsCharset.h"

namespace kelvane {
namespace {

// Decodes one character at `i`; returns its length in bytes (0 for a malformed sequence).
std::size_t DecodeOne(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  std::size_t len = 0;
  std::uint32_t min = 0;
  if (b0 < 0x80) {
    cp = b0;
    return 1;
  } else if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1Fu, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0Fu, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (i + len > s.size()) return 0;
  for (std::size_t k = 1; k < len; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

void AppendUtf8(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string NoRdsCode(std::uint32_t cp) {
  std::string ch;
  AppendUtf8(ch, cp);
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
  return "the character '" + ch + "' (" + code + ") has no code in the RDS character set";
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = DecodeOne(text, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::optional<std::string> Latin1FromUtf8(std::string_view utf8, std::string* error) {
  std::string out;
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = DecodeOne(utf8, i, cp);
    if (n == 0) {
      if (error) *error = "not valid UTF-8 text";
      return std::nullopt;
    }
    if (cp > 0xFF) {
      if (error) {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(cp));
        *error = "the character '" + std::string(utf8.substr(i, n)) + "' (" + code +
                 ") is not in Latin-1";
      }
      return std::nullopt;
    }
    out += static_cast<char>(cp);
    i += n;
  }
  return out;
}

std::string Latin1FromFileText(std::string_view text) {
  if (!IsValidUtf8(text)) return std::string(text);
  std::string out;
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t n = DecodeOne(text, i, cp);
    out += cp > 0xFF ? '?' : static_cast<char>(cp);
    i += n;
  }
  return out;
}

std::string Utf8FromLatin1(std::string_view latin1) {
  std::string out;
  out.reserve(latin1.size());
  for (char ch : latin1) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x80) {
      out += ch;
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::optional<std::string> RdsFromUtf8(std::string_view utf8, std::string* error) {
  std::string out;
  std::uint32_t cp = 0;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::size_t n = DecodeOne(utf8, i, cp);
    if (n == 0) {
      if (error) *error = "not valid UTF-8 text";
      return std::nullopt;
    }
    const int code = RdsCodeForChar(static_cast<char32_t>(cp));
    if (code < 0) {
      if (error) *error = NoRdsCode(cp);
      return std::nullopt;
    }
    out += static_cast<char>(code);
    i += n;
  }
  return out;
}

std::optional<std::string> RdsFromFileText(std::string_view text, std::string* error) {
  if (IsValidUtf8(text)) return RdsFromUtf8(text, error);
  return RdsFromUtf8(Utf8FromLatin1(text), error);
}

std::string Utf8FromRds(std::string_view codes) {
  std::string out;
  for (char ch : codes) {
    const char32_t c = RdsCharForCode(static_cast<std::uint8_t>(ch));
    AppendUtf8(out, c == 0 ? U'?' : static_cast<std::uint32_t>(c));
  }
  return out;
}

std::string_view Utf8Prefix(std::string_view text, std::size_t maxChars) {
  if (!IsValidUtf8(text)) return text.substr(0, maxChars);
  std::size_t i = 0;
  std::uint32_t cp = 0;
  for (std::size_t chars = 0; i < text.size() && chars < maxChars; ++chars) {
    i += DecodeOne(text, i, cp);
  }
  return text.substr(0, i);
}

}  // namespace kelvane
