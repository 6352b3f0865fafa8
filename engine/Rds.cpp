// RDS group content, checkwords and the differential bit encoder.
#include "Rds.h"

#include <charconv>
#include <cstring>

namespace kelvane {

const std::array<uint16_t, 16> RDSCheckMatrix = {0x077, 0x2E7, 0x3AF, 0x30B, 0x359, 0x370,
                                                 0x1B8, 0x0DC, 0x06E, 0x037, 0x2C7, 0x3BF,
                                                 0x303, 0x35D, 0x372, 0x1B9};
const std::array<uint16_t, 4> RDSOffsetWord = {0x0FC, 0x198, 0x168, 0x1B4};

namespace {
constexpr int kBitsPerBlock = 26;
constexpr int kBitsPerGroup = 4 * kBitsPerBlock;
constexpr std::size_t kTextCapacity = 64;
}  // namespace

int RDSChecksum(int infoWord) {
  int r = 0;
  for (int i = 0; i < 16; ++i) {
    if ((infoWord >> (15 - i)) & 1) r ^= RDSCheckMatrix[i];
  }
  return r;
}

int ParsePIText(std::string_view text) {
  if (text.empty()) return 0xFFFF;
  unsigned value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (ec != std::errc() || end != text.data() + text.size()) return 0xFFFF;
  // Only the low 16 bits are ever sent.
  return static_cast<int>(value & 0xFFFFu);
}

int PSWord(std::string_view psText, int group) {
  unsigned char ps[8];
  std::memset(ps, ' ', sizeof ps);
  std::memcpy(ps, psText.data(), psText.size() < 8 ? psText.size() : 8);
  return ps[2 * group] * 256 + ps[2 * group + 1];
}

void GetNextRDSBit(EngineState& s, ControlSource& controls) {
  const int g = s.RDSBitIndex / kBitsPerGroup;
  const int b = (s.RDSBitIndex % kBitsPerGroup) / kBitsPerBlock;
  const int n = s.RDSBitIndex % kBitsPerBlock;
  if (n == 0) {
    char text[kTextCapacity];
    switch (b) {
      case 0: {
        const std::size_t len = controls.ReadPIText(text, sizeof text);
        // A text too long for the buffer cannot be a 16-bit code.
        s.RDSInfoWord = len < sizeof text ? ParsePIText({text, len}) : 0xFFFF;
        break;
      }
      case 1:
        s.RDSInfoWord = 0x0408 + g;
        break;
      case 2:
        s.RDSInfoWord = kRdsFillerCode * 257;
        break;
      default: {
        const std::size_t len = controls.ReadPSText(text, sizeof text);
        s.RDSInfoWord = PSWord({text, len < sizeof text ? len : sizeof text - 1}, g);
        break;
      }
    }
    s.RDSCheckWord = RDSChecksum(s.RDSInfoWord) ^ RDSOffsetWord[b];
  }
  const int bit = n < 16 ? (s.RDSInfoWord >> (15 - n)) & 1 : (s.RDSCheckWord >> (25 - n)) & 1;
  s.RDSDiffBit = s.RDSDiffBit != (bit != 0);
  if (++s.RDSBitIndex >= kRdsCycleBits) s.RDSBitIndex = 0;
}

}  // namespace kelvane
