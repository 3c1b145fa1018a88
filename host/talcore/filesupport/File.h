#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "talcore/TalExport.h"

namespace talcore::filesupport {

// What tells one file from every other while it exists, whatever path names it: the device and
// inode on POSIX, the volume serial number and 128-bit file id on Windows. Two equal identities
// are the same file.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t fileLow = 0;
    std::uint64_t fileHigh = 0;
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// A file named by a full UTF-16 path. Nothing is opened until a stream is made on it.
class TAL_API File {
public:
    File() = default;
    // `storageType` 0 is a local file, the only kind there is.
    explicit File(std::u16string path, int storageType = 0);

    bool Exists() const;
    // Size in bytes; 0 when the file cannot be read.
    std::uint64_t Size() const;
    // The identity of the file the path names now (links followed); empty when it names nothing.
    std::optional<FileIdentity> Identity() const;
    // Removes the file; throws std::runtime_error (saying what failed) when it cannot.
    void Delete() const;
    const std::u16string& FullPath() const noexcept { return path_; }

private:
    std::u16string path_;
};

}  // namespace talcore::filesupport
