#include "talcore/allocator/RecycledMemory.h"

#include <stdexcept>

namespace talcore::allocator {

RecycledMemory::RecycledMemory(std::size_t size) : bytes_(std::make_shared<std::vector<std::uint8_t>>(size)) {}

RecycledMemory::RecycledMemory(std::string_view bytes)
    : bytes_(std::make_shared<std::vector<std::uint8_t>>(bytes.begin(), bytes.end())) {}

RecycledMemory::RecycledMemory(std::shared_ptr<std::vector<std::uint8_t>> shared) : bytes_(std::move(shared)) {
    if (!bytes_) throw std::invalid_argument("RecycledMemory: no buffer to share");
}

}  // namespace talcore::allocator
