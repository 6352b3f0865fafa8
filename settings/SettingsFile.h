// The settings file vantorex.ini: its 36 keys, their encodings and defaults, load and save.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ParamTable.h"

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
  int samplingRate = 3;                          // CBSR selection: 0..3, or -1 for none
  int bufferLength = 2;                          // CBBL selection: 0..4, or -1 for none
  std::string rdsPS = "PS Name";
  std::string rdsPI = "FFFF";
  bool multipath = false;  // CBMULTI

  // The radio pair after loading: ExtSource is set last, so with both stored as 1 only the
  // sound-card input is on, and with both 0 neither is; Start runs the sine only when RBSINE
  // is checked.
  bool SineChecked() const { return sineSource && !extSource; }
};

// Number of entries in the sampling-rate and buffer-length lists.
inline constexpr int kSamplingRateItems = 4;
inline constexpr int kBufferLengthItems = 5;

enum class KeyType { Integer, Boolean, Float, Text };

struct SettingsKey {
  std::string_view name;
  KeyType type;
};

// The 36 keys in the order in which they are read and written.
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

// Sets one key of `values` from text in the key's encoding (a float through the parameter
// table's normalisation, a list index as the list would take it). Returns false for text
// that does not parse; `values` is then unchanged. Unknown keys return false as well.
bool ApplySettingText(SettingsValues& values, const SettingsKey& key, std::string_view text);
// The value of one key as the file would hold it.
std::string SettingText(const SettingsValues& values, const SettingsKey& key);

// Reads the file: a missing file, a missing key or a value that does not parse gives the
// key's default. Float values are clamped and rounded like the spinners they go into; an
// index outside its list becomes -1 (no selection).
SettingsValues LoadSettingsFile(const std::string& path);

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

}  // namespace kelvane
