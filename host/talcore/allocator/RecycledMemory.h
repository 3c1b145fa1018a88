#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "talcore/TalExport.h"

namespace talcore::allocator {

// A byte buffer handed to the network as a request body. It either owns its bytes or shares a
// caller's vector without copying it, so an upload's memory stays bounded by its chunk buffer.
class TAL_API RecycledMemory {
public:
    explicit RecycledMemory(std::size_t size);
    explicit RecycledMemory(std::string_view bytes);
    explicit RecycledMemory(std::shared_ptr<std::vector<std::uint8_t>> shared);

    std::uint8_t* Data() noexcept { return bytes_->data(); }
    const std::uint8_t* Data() const noexcept { return bytes_->data(); }
    std::size_t Size() const noexcept { return bytes_->size(); }

private:
    std::shared_ptr<std::vector<std::uint8_t>> bytes_;
};

}  // namespace talcore::allocator
