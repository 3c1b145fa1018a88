#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

namespace vekta::sandbox {

// Streaming SHA-256. Copying takes a checkpoint, so an upload can drop a chunk that broke off
// halfway and hash its retry as if the broken attempt never happened.
class Sha256 {
public:
    Sha256();
    Sha256(const Sha256& other);
    Sha256& operator=(const Sha256& other);
    Sha256(Sha256&&) noexcept = default;
    Sha256& operator=(Sha256&&) noexcept = default;
    ~Sha256();

    void Update(const void* data, std::size_t length);
    // Lower-case hex digest; the hasher must not be updated afterwards.
    std::string FinishHex();

private:
    struct Free {
        void operator()(evp_md_ctx_st* ctx) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> ctx_;
};

std::string Sha256Hex(std::string_view data);

}  // namespace vekta::sandbox
