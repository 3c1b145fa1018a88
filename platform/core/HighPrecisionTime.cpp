#include "talcore/utility/HighPrecisionTime.h"

#include <chrono>

namespace talcore::utility {

std::int64_t HighPrecisionTime::NowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace talcore::utility
