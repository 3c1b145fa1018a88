#include "core/FileIdentityOS.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace talcore::filesupport::detail {
namespace {

FileIdentity FromStat(const struct stat& status) {
    FileIdentity identity;
    identity.volume = static_cast<std::uint64_t>(status.st_dev);
    identity.fileLow = static_cast<std::uint64_t>(status.st_ino);
    return identity;
}

struct stat StatOpenFile(std::FILE* file) {
    struct stat status {};
    if (!file || ::fstat(::fileno(file), &status) != 0) {
        throw std::runtime_error(std::string("Asking the open file for its status failed: ") + std::strerror(errno));
    }
    return status;
}

}  // namespace

std::optional<FileIdentity> IdentityOfPath(const std::filesystem::path& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return std::nullopt;
    return FromStat(status);
}

FileIdentity IdentityOfOpenFile(std::FILE* file) { return FromStat(StatOpenFile(file)); }

std::uint64_t SizeOfOpenFile(std::FILE* file) { return static_cast<std::uint64_t>(StatOpenFile(file).st_size); }

}  // namespace talcore::filesupport::detail
