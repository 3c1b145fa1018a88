#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "talcore/TalExport.h"
#include "talcore/filesupport/File.h"

namespace talcore::filesupport {

// A sequential byte stream on a file.
class TAL_API IPlatformByteStream {
public:
    enum Flags : std::uint32_t { kRead = 1 };

    virtual ~IPlatformByteStream() = default;
    // Reads up to `size` bytes; returns how many were read (less only at the end of the file).
    // Throws std::runtime_error on a read error.
    virtual std::size_t Read(void* buffer, std::size_t size) = 0;
    virtual void Seek(std::uint64_t offset) = 0;
    virtual std::uint64_t Position() const = 0;
    // The open file's size now, and its identity, whatever its path names meanwhile (the file may
    // have been renamed, replaced or removed since it was opened). Both throw std::runtime_error
    // when the system cannot tell.
    virtual std::uint64_t Size() const = 0;
    virtual FileIdentity Identity() const = 0;

    // Opens `file` with `flags` (kRead); throws std::runtime_error when it cannot.
    static std::unique_ptr<IPlatformByteStream> Create(const File& file, std::uint32_t flags);
};

}  // namespace talcore::filesupport
