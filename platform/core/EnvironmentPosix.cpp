#include <cstdlib>

#include "Environment.h"

namespace talcore::system::detail {

std::optional<std::string> EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

}  // namespace talcore::system::detail
