#pragma once

#include <cstdint>

#include "talcore/TalExport.h"

namespace talcore::utility {

// The host's monotonic clock.
class TAL_API HighPrecisionTime {
public:
    // Nanoseconds since an arbitrary, fixed start.
    static std::int64_t NowNanoseconds();
    static double NowSeconds() { return static_cast<double>(NowNanoseconds()) / 1'000'000'000.0; }
};

}  // namespace talcore::utility
