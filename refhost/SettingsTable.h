// A readable text table of an instance's export settings, as the host program prints them.
//
//   TikTok
//     Account                          popup     Not signed in
//                                               choices: 0 Not signed in
//     Type                             popup     Post
//                                               choices: 0 Post | 1 Draft
//     Caption                          text      "#CorvaneSolvane"        (disabled)
//     Delete local file after upload   checkbox  [ ]
//
// Groups nest by indentation and show their title (their id when untitled). A parameter shows its
// label (its id before the plug-in has set one), its type, its value and whether it is disabled:
// popups show the chosen entry's label, checkboxes [x] or [ ], byte arrays only the length of the
// text they hold. Hidden groups and parameters appear only when asked for; the content of a hidden
// text or byte array is never shown, since it may be a token.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "refhost/ExportParamHost.h"

namespace vekta::host {

struct SettingsTableOptions {
    bool showHidden = false;
    bool showIDs = false;  // append each entry's identifier
};

// The table of the group `rootGroupID` and everything under it; an empty id formats every group of
// the instance. UTF-8, one line per row, each ending in "\n". Empty when the root is not there.
std::string FormatSettingsTable(const std::vector<EntrySnapshot>& entries, std::string_view rootGroupID,
                                const SettingsTableOptions& options = {});

// The same for an instance of the export-parameter host; empty for an unknown instance.
std::string FormatSettingsTable(std::uint32_t instanceID, std::string_view rootGroupID,
                                const SettingsTableOptions& options = {});

}  // namespace vekta::host
