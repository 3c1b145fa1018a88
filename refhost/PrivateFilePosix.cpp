#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "refhost/PrivateFile.h"

namespace vekta::host {
namespace {

std::string ErrnoText(int error) { return std::strerror(error); }

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!kept_) ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    std::string& Path() { return path_; }
    int& Descriptor() { return fd_; }
    void Keep() { kept_ = true; }

private:
    std::string path_;
    int fd_ = -1;
    bool kept_ = false;
};

}  // namespace

std::string ReplacePrivateFile(const std::filesystem::path& path, std::string_view text) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    TemporaryFile temporary((folder / ("." + path.filename().string() + ".XXXXXX")).string());
    // mkstemp creates the file with mode 0600, before any byte of the settings is in it.
    temporary.Descriptor() = ::mkstemp(temporary.Path().data());
    if (temporary.Descriptor() < 0) {
        temporary.Keep();  // nothing was created
        return "cannot create a temporary file in " + folder.string() + ": " + ErrnoText(errno);
    }
    if (::fchmod(temporary.Descriptor(), S_IRUSR | S_IWUSR) != 0) {
        return "cannot restrict " + temporary.Path() + " to its owner: " + ErrnoText(errno);
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(temporary.Descriptor(), text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            return "cannot write " + temporary.Path() + ": " + ErrnoText(errno);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(temporary.Descriptor()) != 0) {
        return "cannot flush " + temporary.Path() + ": " + ErrnoText(errno);
    }
    const int fd = temporary.Descriptor();
    temporary.Descriptor() = -1;
    if (::close(fd) != 0) {
        return "cannot close " + temporary.Path() + ": " + ErrnoText(errno);
    }
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0) {
        return "cannot replace " + path.string() + ": " + ErrnoText(errno);
    }
    temporary.Keep();
    // Make the rename itself durable; failing here leaves a complete file either way.
    if (const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

}  // namespace vekta::host
