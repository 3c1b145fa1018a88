#include <sys/stat.h>

#include "tests/refhost/OwnerOnly.h"

namespace vekta::test {

bool OnlyOwnerHasAccess(const std::filesystem::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 && (info.st_mode & 0777) == 0600;
}

void OpenToEveryone(const std::filesystem::path& file) { ::chmod(file.c_str(), 0644); }

}  // namespace vekta::test
