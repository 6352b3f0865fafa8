// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file vantorex.ini: its keys, their encodings and defaults, load and save.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ParamTable.h"
#include "Programme.h"

namespace kelvane {

inline constexpr const char* kSettingsFileName = "vantorex.ini";
inline constexpr const char* kSettingsSection = "General";
inline constexpr const char* kSettingsEnvVar = "KELVANE_SETTINGS";

// Everything the settings file holds, as the controls hold it. Members start at the values a
// first run shows.
struct SettingsValues {
  int top = 10;
  int left = 100;
  int audioInDevice = 0;  // list index; -1 (no selection) leaves both input-device keys alone
  std::string audioInDeviceName = "(Default)";
  int audioOutDevice = 0;  // likewise for the two output-device keys
  std::string audioOutDeviceName = "(Default)";
  bool sineSource = true;  // RBSINE
  bool extSource = false;  // RBEXT
  bool running = false;    // IsRunning
  bool stereo = false;
  bool rds = false;
  bool dcCoupledDAC = false;
  bool scopePreamp = false;
  int scopeFunc = 3;
  ParamValues params = ParamValues::FirstRun();  // the 17 spinner values
  int samplingRate = 3;                          // CBSR selection: 0..3
  int bufferLength = 2;                          // CBBL selection: 0..4
  // The PS and the RadioText in RDS character codes (RdsCharset.h), which is what the engine
  // sends; the file holds them as UTF-8. The PI text is hexadecimal digits.
  std::string rdsPS = "PS Name";
  std::string rdsPI = "FFFF";
  bool multipath = false;  // CBMULTI
  // The programme keys (ProgrammeTable.h); the RadioText apart, as it is a text.
  ProgrammeSettings programme;
  std::string rdsRT;
  // The audio file of the input source (UTF-8), whether the input list has it selected
  // instead of a device, and whether it plays again from its start at its end.
  std::string inputFile;
  bool fileSource = false;
  bool inputFileLoop = false;
  // The SDR output's keys as the file holds them: empty is "not set" (the device chooses, or a
  // start says what is missing). Decimal values are kept in their normalised text form.
  struct Sdr {
    std::string args, frequency, rate, gain, antenna;
    bool operator==(const Sdr&) const = default;
  } sdr;
  // The window's remote control: the TCP port it listens on at start (0: off).
  int remotePort = 0;

  // The radio pair after loading: ExtSource is set last, so with both stored as 1 only the
  // sound-card input is on, and with both 0 neither is; Start runs the sine only when RBSINE
  // is checked.
  bool SineChecked() const { return sineSource && !extSource; }
};

// Number of entries in the sampling-rate and buffer-length lists.
inline constexpr int kSamplingRateItems = 4;
inline constexpr int kBufferLengthItems = 5;

// Text values are read back up to this many characters, as the profile functions do.
inline constexpr std::size_t kMaxTextLength = 2047;

enum class KeyType { Integer, Boolean, Float, Text };

struct SettingsKey {
  std::string_view name;
  KeyType type;
};

// The keys in the order in which they are read and written.
const std::vector<SettingsKey>& SettingsKeys();
// Key of that name (case-insensitive, as in the file), or nullptr.
const SettingsKey* FindSettingsKey(std::string_view name);

// Value encodings. Integers: decimal, or hexadecimal after "0x"/"0X" when the text is longer
// than two characters. Floats: "." or "," as the decimal separator; non-finite values are
// refused. Both return nullopt for text that does not parse.
std::optional<int> ParseSettingsInt(std::string_view text);
std::optional<double> ParseSettingsFloat(std::string_view text);
// Shortest general form with up to 15 significant digits, always with ".".
std::string FormatSettingsFloat(double value);

// Sets one key of `values` from the file's text for it, with the file's forgiving rules: a
// float is clamped and rounded through the parameter table, an index outside its list gives
// the first-run value, and a text value has line breaks made spaces, is decoded (the RDS
// texts to Latin-1, see TextCodec.h), cut to kMaxTextLength characters and trimmed. Returns
// false for text that does not parse; `values` is then unchanged. Unknown keys return false.
// (For text a person typed, see ApplyUserSetting in UserSetting.h: it refuses instead.)
bool ApplySettingText(SettingsValues& values, const SettingsKey& key, std::string_view text);
// The value of one key as the file holds it (UTF-8); ApplySettingText gives it back unchanged.
std::string SettingText(const SettingsValues& values, const SettingsKey& key);

struct SettingsLoadReport {
  enum class Status { Ok, Missing, Unreadable };
  Status status = Status::Ok;
  // For Missing and Unreadable, one line that names the file, e.g.
  // "cannot read settings file /dev/zero: is not a regular file".
  std::string message;
  // Keys the file holds but that could not be taken, one line each (the key then keeps its
  // first-run value), e.g. a text with a character the RDS set lacks.
  std::vector<std::string> warnings;
};

// Reads the file: a missing file, a missing key or a value that does not parse gives the
// key's default; see ApplySettingText for the rules per key. A file that cannot be read (not
// a regular file, over 1 MiB, no permission) gives the first-run values as well; `report`,
// when given, tells which case it was. Never throws.
SettingsValues LoadSettingsFile(const std::string& path, SettingsLoadReport* report = nullptr);

struct SaveResult {
  bool ok = true;
  std::string error;  // "Unable to write to <path>" on failure
};

struct SaveOptions {
  // False leaves all four device keys as they are, for a caller that has no device lists.
  bool writeDeviceKeys = true;
};

// Writes every key in table order into the file, keeping the keys and sections it does not
// write. A device index of -1 leaves that device's two keys as they are. On failure the old
// file is left untouched.
SaveResult SaveSettingsFile(const std::string& path, const SettingsValues& values,
                            const SaveOptions& options = {});

// Position of the first entry equal to name with the letters a-z upper-cased (no other
// letters are folded), or fallback.
int FindItemIndex(const std::vector<std::string>& list, std::string_view name, int fallback);

// Which file a program uses: the --settings value if given, else $KELVANE_SETTINGS if set and
// not empty, else AppDataFolder(false, true) + "vantorex.ini".
std::string ResolveSettingsPath(const std::optional<std::string>& optionValue);
// True when the user named the file (the option or the variable): then a missing file
// deserves a warning, while a missing default file is simply a first run.
bool SettingsPathIsChosen(const std::optional<std::string>& optionValue);

}  // namespace kelvane
