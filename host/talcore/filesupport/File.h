#pragma once

#include <cstdint>
#include <string>

#include "talcore/TalExport.h"

namespace talcore::filesupport {

// A file named by a full UTF-16 path. Nothing is opened until a stream is made on it.
class TAL_API File {
public:
    File() = default;
    // `storageType` 0 is a local file, the only kind there is.
    explicit File(std::u16string path, int storageType = 0);

    bool Exists() const;
    // Size in bytes; 0 when the file cannot be read.
    std::uint64_t Size() const;
    // Removes the file; throws std::runtime_error (saying what failed) when it cannot.
    void Delete() const;
    const std::u16string& FullPath() const noexcept { return path_; }

private:
    std::u16string path_;
};

}  // namespace talcore::filesupport
