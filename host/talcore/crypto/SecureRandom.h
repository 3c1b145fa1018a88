#pragma once

#include <cstddef>

#include "talcore/TalExport.h"

namespace talcore::crypto {

// [any-thread] Fills `buffer` from the system's cryptographically secure generator; throws
// std::runtime_error when it cannot.
TAL_API void FillSecureRandom(void* buffer, std::size_t size);

}  // namespace talcore::crypto
