// For the Win32 files: what tells one open file from every other, read from its handle.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>

#include "talcore/filesupport/File.h"

namespace talcore::filesupport::detail {

// The volume serial number and file index of the file open behind `handle`; empty when the system
// cannot tell.
inline std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return std::nullopt;
    FileIdentity identity;
    identity.volume = info.dwVolumeSerialNumber;
    identity.fileLow = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return identity;
}

}  // namespace talcore::filesupport::detail
