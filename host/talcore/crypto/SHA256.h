#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "talcore/TalExport.h"

namespace talcore::crypto {

// Incremental SHA-256.
class TAL_API SHA256HashState {
public:
    SHA256HashState();
    ~SHA256HashState();
    SHA256HashState(const SHA256HashState&) = delete;
    SHA256HashState& operator=(const SHA256HashState&) = delete;

private:
    friend TAL_API void UpdateHashState(SHA256HashState&, const void*, std::size_t);
    friend TAL_API std::array<std::uint8_t, 32> GetHashResult(SHA256HashState&);
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

TAL_API void UpdateHashState(SHA256HashState& state, const void* data, std::size_t size);
// The digest of everything added; the state is then spent and starts over.
TAL_API std::array<std::uint8_t, 32> GetHashResult(SHA256HashState& state);

}  // namespace talcore::crypto
