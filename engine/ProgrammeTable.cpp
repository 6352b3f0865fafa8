// SPDX-License-Identifier: GPL-3.0-or-later
// Rows of the programme keys and the programme type names.
#include "ProgrammeTable.h"

namespace kelvane {
namespace {
constexpr std::array<std::string_view, 3> kEmphasis = {"off", "50 us (Europe)", "75 us (Americas)"};
constexpr std::array<std::string_view, 3> kDi = {"mono", "stereo", "follows the stereo encoder"};
}  // namespace

const std::array<std::string_view, 32> kPtyNamesRds = {
    "None",          "News",           "Current Affairs", "Information",     "Sport",
    "Education",     "Drama",          "Culture",         "Science",         "Varied",
    "Pop Music",     "Rock Music",     "Easy Listening",  "Light Classical", "Serious Classical",
    "Other Music",   "Weather",        "Finance",         "Children's",      "Social Affairs",
    "Religion",      "Phone-In",       "Travel",          "Leisure",         "Jazz Music",
    "Country Music", "National Music", "Oldies Music",    "Folk Music",      "Documentary",
    "Alarm Test",    "Alarm"};

const std::array<std::string_view, 32> kPtyNamesRbds = {"None",
                                                        "News",
                                                        "Information",
                                                        "Sports",
                                                        "Talk",
                                                        "Rock",
                                                        "Classic Rock",
                                                        "Adult Hits",
                                                        "Soft Rock",
                                                        "Top 40",
                                                        "Country",
                                                        "Oldies",
                                                        "Soft",
                                                        "Nostalgia",
                                                        "Jazz",
                                                        "Classical",
                                                        "Rhythm and Blues",
                                                        "Soft Rhythm and Blues",
                                                        "Foreign Language",
                                                        "Religious Music",
                                                        "Religious Talk",
                                                        "Personality",
                                                        "Public",
                                                        "College",
                                                        "Spanish Talk",
                                                        "Spanish Music",
                                                        "Hip Hop",
                                                        "Unassigned",
                                                        "Unassigned",
                                                        "Weather",
                                                        "Emergency Test",
                                                        "Emergency"};

// clang-format off
const std::array<ProgrammeRow, kProgrammeKeyCount> kProgrammeTable = {{
  {ProgrammeKey::PreEmphasis,  "PreEmphasis",  "Pre-emphasis:",        ProgrammeKind::Choice, 0, 2,  0, kEmphasis,
   "audio pre-emphasis (both sources)"},
  {ProgrammeKey::AudioLowPass, "AudioLowPass", "15 kHz audio low-pass", ProgrammeKind::Switch, 0, 1,  0, {},
   "15 kHz low-pass on the sound-card source"},
  {ProgrammeKey::RDSPTY,       "RDSPTY",       "Programme type (PTY):", ProgrammeKind::Number, 0, 31, 0, kPtyNamesRds,
   "RDS programme type"},
  {ProgrammeKey::RDSTP,        "RDSTP",        "Traffic programme (TP)", ProgrammeKind::Switch, 0, 1, 1, {},
   "RDS traffic programme flag"},
  {ProgrammeKey::RDSTA,        "RDSTA",        "Traffic announcement (TA)", ProgrammeKind::Switch, 0, 1, 0, {},
   "RDS traffic announcement flag"},
  {ProgrammeKey::RDSMS,        "RDSMS",        "Music (MS)",            ProgrammeKind::Switch, 0, 1,  1, {},
   "RDS music (1) or speech (0)"},
  {ProgrammeKey::RDSDI,        "RDSDI",        "Stereo flag (DI):",     ProgrammeKind::Choice, 0, 2,  0, kDi,
   "RDS decoder identification, its stereo bit"},
  {ProgrammeKey::RDSRT,        "RDSRT",        "RadioText:",            ProgrammeKind::Text,   0, 64, 0, {},
   "RDS RadioText (empty: none)"},
  {ProgrammeKey::RDSCT,        "RDSCT",        "Clock time (CT)",       ProgrammeKind::Switch, 0, 1,  0, {},
   "RDS clock time and date each minute"},
  {ProgrammeKey::RDSAF,        "RDSAF",        "Alternative frequencies:", ProgrammeKind::AfList, 0, 25, 0, {},
   "RDS alternative frequencies (method A; empty: none)"},
  {ProgrammeKey::FileSource,   "FileSource",   "Audio file",            ProgrammeKind::Switch, 0, 1,  0, {},
   "the sound-card input source plays InputFile instead of a device (window)"},
  {ProgrammeKey::InputFile,    "InputFile",    "Audio file:",           ProgrammeKind::Path,   0, 2047, 0, {},
   "audio file of the input source (window; WAV, FLAC, Ogg, MP3, any rate)"},
  {ProgrammeKey::InputFileLoop, "InputFileLoop", "Loop the audio file", ProgrammeKind::Switch, 0, 1,  0, {},
   "play the audio file again from its start at its end (0: silence follows)"},
  {ProgrammeKey::IQSwap,       "IQSwap",       "Swap I and Q (Q on the left)", ProgrammeKind::Switch, 0, 1, 0, {},
   "every output: Q on the left channel, I on the right"},
  {ProgrammeKey::ChannelDelay, "ChannelDelay", "Q delay against I:",   ProgrammeKind::Number, -8, 8, 0, {},
   "every output: Q delayed against I by whole samples (negative: I delayed)", "smp"},
  {ProgrammeKey::SdrArgs,      "SdrArgs",      "Device arguments:",    ProgrammeKind::Words,  0, 2047, 0, {},
   "SDR output: SoapySDR device arguments key=value,... added to the listed device's"},
  {ProgrammeKey::SdrFrequency, "SdrFrequency", "Centre frequency:",    ProgrammeKind::Decimal, 1, 2147483647, 0, {},
   "SDR output: centre frequency; the carrier sits at centre + CarrierFreq", "Hz"},
  {ProgrammeKey::SdrRate,      "SdrRate",      "Device sample rate:",  ProgrammeKind::Decimal, 1, 2147483647, 0, {},
   "SDR output: device sample rate (empty: at least 8 x the sampling rate where it can)", "S/s"},
  {ProgrammeKey::SdrGain,      "SdrGain",      "TX gain:",             ProgrammeKind::Decimal, -200, 200, 0, {},
   "SDR output: transmit gain (empty: the device's minimum)", "dB"},
  {ProgrammeKey::SdrAntenna,   "SdrAntenna",   "Antenna:",             ProgrammeKind::Words,  0, 255, 0, {},
   "SDR output: antenna port (empty: the device's default)"},
  {ProgrammeKey::RemotePort,   "RemotePort",   "Remote control port:",  ProgrammeKind::Number, 0, 65535, 0, {},
   "the window takes SCPI commands on this TCP port of 127.0.0.1 (5025 by convention; 0: off)"},
}};
// clang-format on

const ProgrammeRow& ProgrammeInfo(ProgrammeKey id) {
  return kProgrammeTable[static_cast<std::size_t>(id)];
}

std::optional<ProgrammeKey> FindProgrammeKey(std::string_view key) {
  for (const auto& row : kProgrammeTable) {
    if (row.key == key) return row.id;
  }
  return std::nullopt;
}

}  // namespace kelvane
