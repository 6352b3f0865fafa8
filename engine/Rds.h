// The RDS data stream: four type 0A groups carrying PI and PS, checkwords with offset words,
// differentially encoded, one bit per call.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ControlSource.h"
#include "EngineState.h"

namespace kelvane {

extern const std::array<uint16_t, 16> RDSCheckMatrix;
extern const std::array<uint16_t, 4> RDSOffsetWord;
inline constexpr int kRdsFillerCode = 205;

// 10-bit checkword of a 16-bit information word (offset word not added).
int RDSChecksum(int infoWord);
// The PI text read as hexadecimal; 0xFFFF when it does not parse (empty, non-hex character).
int ParsePIText(std::string_view text);
// Information word of block 4 of group g: PS characters 2g and 2g+1, the name padded with spaces.
int PSWord(std::string_view psText, int group);
// Advances RDSBitIndex and updates RDSDiffBit; reads PI at each group start and PS at each
// fourth block start through the control source.
void GetNextRDSBit(EngineState& s, ControlSource& controls);

}  // namespace kelvane
