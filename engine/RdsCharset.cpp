// SPDX-License-Identifier: GPL-3.0-or-later
// The code table, rows 0x20..0xFE.
#include "RdsCharset.h"

#include <array>

namespace kelvane {
namespace {

// Positions 0x80..0xFF.
constexpr char32_t kHigh[128] = {
    U'á', U'à', U'é', U'è', U'í', U'ì', U'ó', U'ò', U'ú', U'ù', U'Ñ', U'Ç', U'Ş', U'ß', U'¡', U'Ĳ',
    U'â', U'ä', U'ê', U'ë', U'î', U'ï', U'ô', U'ö', U'û', U'ü', U'ñ', U'ç', U'ş', U'ğ', U'ı', U'ĳ',
    U'ª', U'α', U'©', U'‰', U'Ğ', U'ě', U'ň', U'ő', U'π', U'€', U'£', U'$', U'←', U'↑', U'→', U'↓',
    U'º', U'¹', U'²', U'³', U'±', U'İ', U'ń', U'ű', U'µ', U'¿', U'÷', U'°', U'¼', U'½', U'¾', U'§',
    U'Á', U'À', U'É', U'È', U'Í', U'Ì', U'Ó', U'Ò', U'Ú', U'Ù', U'Ř', U'Č', U'Š', U'Ž', U'Đ', U'Ŀ',
    U'Â', U'Ä', U'Ê', U'Ë', U'Î', U'Ï', U'Ô', U'Ö', U'Û', U'Ü', U'ř', U'č', U'š', U'ž', U'đ', U'ŀ',
    U'Ã', U'Å', U'Æ', U'Œ', U'ŷ', U'Ý', U'Õ', U'Ø', U'Þ', U'Ŋ', U'Ŕ', U'Ć', U'Ś', U'Ź', U'Ŧ', U'ð',
    U'ã', U'å', U'æ', U'œ', U'ŵ', U'ý', U'õ', U'ø', U'þ', U'ŋ', U'ŕ', U'ć', U'ś', U'ź', U'ŧ', 0,
};

constexpr std::array<char32_t, 256> MakeTable() {
  std::array<char32_t, 256> t{};
  for (int c = 0x20; c < 0x7F; ++c) t[static_cast<std::size_t>(c)] = static_cast<char32_t>(c);
  t[0x24] = U'¤';
  t[0x5E] = U'―';
  t[0x60] = U'‖';
  t[0x7E] = U'¯';
  for (int c = 0; c < 128; ++c) t[static_cast<std::size_t>(0x80 + c)] = kHigh[c];
  return t;
}

constexpr std::array<char32_t, 256> kTable = MakeTable();

}  // namespace

char32_t RdsCharForCode(std::uint8_t code) {
  return kTable[code];
}

int RdsCodeForChar(char32_t c) {
  if (c == 0) return -1;
  for (int code = 0x20; code < 0x100; ++code) {
    if (kTable[static_cast<std::size_t>(code)] == c) return code;
  }
  return -1;
}

}  // namespace kelvane
