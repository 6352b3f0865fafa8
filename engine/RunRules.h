// SPDX-License-Identifier: GPL-3.0-or-later
// Pure rules of a run: buffer length and size, the sampling-rate list, where RDS is allowed.
#pragma once

namespace kelvane {

// Milliseconds of the buffer-length list entry (50, 100, 250, 500, 1000); any other index,
// including -1 for no selection, gives 250.
int BufferLengthMs(int cbblIndex);

// Bytes per buffer of a live run: the smallest power of two (4 .. 2^24) that holds the
// buffer length's worth of 4-byte frames, raised to at least 512 as the stream does.
int PlaybackBufferSize(int frameRate, int cbblIndex);

// Rate of the sampling-rate list entry (44100, 48000, 96000, 192000), -1 for any other index.
int SamplingRateForIndex(int cbsrIndex);

// The output device's own latency (the queued devices keep 0.15 .. 0.25 s), for a clock of
// what is heard.
inline constexpr double kDeviceLatencySeconds = 0.2;

// RDS (and the input filters) work only at 192000 Hz.
bool RdsAllowed(int frameRate);

}  // namespace kelvane
