#include "talcore/filesupport/File.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "FileIdentityOS.h"
#include "FilePath.h"
#include "talcore/string/Unicode.h"

namespace talcore::filesupport {

File::File(std::u16string path, int /*storageType*/) : path_(std::move(path)) {}

bool File::Exists() const {
    std::error_code error;
    return !path_.empty() && std::filesystem::is_regular_file(ToFilesystemPath(path_), error);
}

std::uint64_t File::Size() const {
    std::error_code error;
    const auto size = std::filesystem::file_size(ToFilesystemPath(path_), error);
    return error ? 0 : static_cast<std::uint64_t>(size);
}

std::optional<FileIdentity> File::Identity() const {
    if (path_.empty()) return std::nullopt;
    return detail::IdentityOfPath(ToFilesystemPath(path_));
}

void File::Delete() const {
    std::error_code error;
    // Only files: an exported file's path that names a folder is never removed.
    const auto status = std::filesystem::symlink_status(ToFilesystemPath(path_), error);
    if (!error && std::filesystem::is_directory(status)) {
        throw std::runtime_error("Cannot delete " + string::UTF16to8(path_) + ": it is a folder");
    }
    const bool removed = std::filesystem::remove(ToFilesystemPath(path_), error);
    if (error) throw std::runtime_error("Cannot delete " + string::UTF16to8(path_) + ": " + error.message());
    if (!removed) throw std::runtime_error("Cannot delete " + string::UTF16to8(path_) + ": no such file");
}

}  // namespace talcore::filesupport
