// Presets: an instance's export settings saved to and loaded from a text file.
//
// Format, version 1. UTF-8 text; every line, the last one included, ends in "\n" (a "\r" before it
// is tolerated); fields are separated by one space; no blank or comment lines.
//
//   VektaExportPreset 1               header: magic word and format version
//   group <id> <disabled>             one per group: 0 enabled, 1 disabled
//   param <id> <type> <value>         one per parameter with a value (buttons have none)
//   end <count>                       number of group and param lines; nothing may follow
//
// <id> is 1 to 255 printable ASCII characters without spaces, each id once per file. <type> is the
// host's type code; <value> by type:
//   1 checkbox, 2 integer/popup   decimal 32-bit integer               param VOXATikTokPrivacy 2 4
//   3 float                       shortest exact decimal, inf, nan     param Gain 3 0.1
//   4 time, 5 hidden int64        decimal 64-bit integer               param Cover 4 -12
//   6 text                        "quoted" UTF-8; \\ \" \n \r \t, and  param Caption 6 "Hi \"you\""
//                                 \uXXXX for other control characters
//                                 and unpaired UTF-16 surrogates
//   8 byte array                  lowercase hex, "-" when empty        param VOXATikTokRefreshToken 8 610000
// so every value, whatever its content, comes back exactly as it was saved.
//
// Saving writes a temporary file in the target's folder with owner-only permissions (0600: hidden
// parameters may carry a refresh token), flushes it to disk and renames it over the target, so a
// reader sees the old file or the new one, never a partial one.
//
// Loading reads and checks the whole file first; any fault (wrong magic or version, bad field,
// duplicate id, missing end line, truncation) is reported as "line N: what was wrong" and nothing
// is applied. The values are then applied all at once to the groups and parameters the instance
// has (load after the plug-in has added its parameters). Entries for ids the instance does not
// have are skipped and listed in the result, so the host can tell the user; an entry whose type
// differs from the parameter's refuses the whole load, since the preset then belongs to another
// version of the settings.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/ExportParamHost.h"

namespace vekta::host {

inline constexpr int kPresetFormatVersion = 1;

struct PresetResult {
    bool ok = false;
    std::string error;                    // "line N: ..." for a bad file, else what failed
    std::vector<std::string> ignoredIDs;  // loading: ids the instance does not have
};

// The preset text of `settings`.
std::string FormatPreset(const InstanceSettings& settings);
// Reads preset text; on failure returns false and leaves `settings` untouched.
bool ParsePreset(std::string_view text, InstanceSettings& settings, std::string& error);

// [any-thread] Saves the instance's settings as read from the export-parameter host.
PresetResult SavePreset(const std::filesystem::path& path, std::uint32_t instanceID);
// [any-thread] Saves `settings` in the same way.
PresetResult SavePreset(const std::filesystem::path& path, const InstanceSettings& settings);
// [any-thread] Loads a preset into the instance; all or nothing.
PresetResult LoadPreset(const std::filesystem::path& path, std::uint32_t instanceID);

}  // namespace vekta::host
