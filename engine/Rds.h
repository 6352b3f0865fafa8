// SPDX-License-Identifier: GPL-3.0-or-later
// The RDS data stream: type 0A, 2A and 4A groups in the scheduler's order, checkwords with
// offset words, differentially encoded, one bit per call.
//
// The schedule: the PS goes out as runs of four 0A groups (segments 0, 1, 2, 3: 350 ms, so a
// receiver has the whole name within 0.4 s of a run's start). After each run come up to three
// 2A groups while the RadioText is not empty (64 characters, 16 segments, are complete within
// six runs of seven groups, 3.7 s); with no RadioText the next run follows at once. The first
// group to start at or after a minute edge is a 4A group when the clock time is on; it takes
// the place of whatever was next, inside a PS run too (the run then goes on with its next
// segment). With no RadioText, no clock time, no AF and the first-run flags this is a plain
// cycle of four 0A groups.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "ControlSource.h"
#include "EngineState.h"
#include "RdsGroups.h"

namespace kelvane {

extern const std::array<uint16_t, 16> RDSCheckMatrix;
extern const std::array<uint16_t, 4> RDSOffsetWord;

// 10-bit checkword of a 16-bit information word (offset word not added).
int RDSChecksum(int infoWord);
// The PI text read as hexadecimal; 0xFFFF when it does not parse (empty, non-hex character).
int ParsePIText(std::string_view text);
// Information word of block 4 of group g: PS characters 2g and 2g+1, the name padded with spaces.
int PSWord(std::string_view psText, int group);

// Hands the block's programme settings, stereo switch and clock to the RDS state for the chunk
// that starts at frame `firstFrame` of the block.
void SetRdsChunk(EngineState& s, const ControlSnapshot& snap, int frameRate, int firstFrame);
// Start of a run: the A/B flag back to 0, no RadioText sent yet, no minute edge known (no clock
// time at the start). The group in progress and the PS sequence go on.
void ResetRdsRun(EngineState& s);

// Advances RDSBitIndex and updates RDSDiffBit. At each group start (frame `frame` of the chunk)
// it picks the group and reads PI, and the RadioText for a 2A group, through the control
// source; the PS pair of a 0A group is read when its block 4 starts.
void GetNextRDSBit(EngineState& s, ControlSource& controls, int frame = 0);

}  // namespace kelvane
