#include <windows.h>

#include <stdexcept>
#include <string>

#include "FileIdentityWin32.h"
#include "WidePath.h"
#include "talcore/filesupport/File.h"
#include "talcore/string/Unicode.h"

namespace talcore::filesupport {
namespace {

// What a failed call left in GetLastError, in words for the exception (English, so a log reads the
// same on every machine).
std::string SystemMessage(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such file";
        case ERROR_ACCESS_DENIED:
            return "access denied";
        case ERROR_SHARING_VIOLATION:
            return "the file is in use";
        default:
            return "system error " + std::to_string(code);
    }
}

}  // namespace

File::File(std::u16string path, int /*storageType*/) : path_(std::move(path)) {}

bool File::Exists() const {
    if (path_.empty()) return false;
    const DWORD attributes = GetFileAttributesW(ToWide(path_).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::uint64_t File::Size() const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path_.empty() || !GetFileAttributesExW(ToWide(path_).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return 0;
    }
    return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::optional<FileIdentity> File::Identity() const {
    if (path_.empty()) return std::nullopt;
    // Opening for no access at all reads the identity even of a file another program holds open.
    const HANDLE handle = CreateFileW(ToWide(path_).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const auto identity = detail::IdentityOfHandle(handle);
    CloseHandle(handle);
    return identity;
}

void File::Delete() const {
    const std::string shown = string::UTF16to8(path_);
    if (path_.empty()) throw std::runtime_error("Cannot delete " + shown + ": no such file");
    const std::wstring wide = ToWide(path_);
    // Only files: an exported file's path that names a folder (or a link to one) is never removed.
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        throw std::runtime_error("Cannot delete " + shown + ": it is a folder");
    }
    if (!DeleteFileW(wide.c_str())) {
        throw std::runtime_error("Cannot delete " + shown + ": " + SystemMessage(GetLastError()));
    }
}

}  // namespace talcore::filesupport
