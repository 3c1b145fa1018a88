// Tracing by category and level, off by default. The host configures it with SetTraceConfig or
// the environment variable VEKTA_TRACE ("Category:level,Other:level"; "*" for every category) and
// VEKTA_TRACE_FILE (append to a file instead of stderr). A line is written when its level is at
// most the configured level of its category.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "talcore/TalExport.h"

namespace talcore::debug {

// [any-thread]
TAL_API bool TraceEnabled(std::string_view category, int level);
// [any-thread] Writes `text` as it is (callers end their lines themselves).
TAL_API void Trace(std::string_view category, int level, std::string_view text);
// [any-thread] Changes every time the configuration changes, so callers may cache TraceEnabled.
TAL_API std::uint64_t TraceChangeCount();

// Host side. [any-thread] Replaces the configuration; an empty text turns tracing off. A file
// path of "" writes to stderr.
TAL_API void SetTraceConfig(std::string_view config, const std::string& filePath = {});

}  // namespace talcore::debug
