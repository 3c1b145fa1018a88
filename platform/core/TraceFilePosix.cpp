#include "TraceFile.h"

namespace talcore::debug::detail {

std::FILE* OpenTraceFile(const std::string& path) { return std::fopen(path.c_str(), "a"); }

}  // namespace talcore::debug::detail
