// Opening the trace file (VEKTA_TRACE_FILE) for appending; one implementation per system beside
// this header. The path is UTF-8.
#pragma once

#include <cstdio>
#include <string>

namespace talcore::debug::detail {

// Null when the file cannot be opened; the trace then goes to stderr.
std::FILE* OpenTraceFile(const std::string& path);

}  // namespace talcore::debug::detail
