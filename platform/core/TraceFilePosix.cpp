#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TraceFile.h"

namespace talcore::debug::detail {

// Traces may name files and requests of the user: the file is the owner's alone, and a link planted
// at its path is not followed (it is not opened at all; tracing then goes to stderr).
std::FILE* OpenTraceFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "a");
    if (!file) ::close(fd);
    return file;
}

}  // namespace talcore::debug::detail
