#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include "FileIdentityOS.h"
#include "FilePath.h"
#include "talcore/filesupport/ByteStream.h"

namespace talcore::filesupport {
namespace {

class FileByteStream final : public IPlatformByteStream {
public:
    explicit FileByteStream(const File& file) {
        const std::filesystem::path path = ToFilesystemPath(file.FullPath());
        std::error_code error;
        if (file.FullPath().empty() || std::filesystem::is_directory(path, error)) {
            throw std::runtime_error("Cannot open " + path.string() + " for reading: not a file");
        }
        file_.reset(std::fopen(path.c_str(), "rb"));
        if (!file_) throw std::runtime_error("Cannot open " + path.string() + " for reading");
    }

    std::size_t Read(void* buffer, std::size_t size) override {
        // The error flag is sticky; without clearing it every later read at the end would throw.
        std::clearerr(file_.get());
        const std::size_t read = std::fread(buffer, 1, size, file_.get());
        if (read < size && std::ferror(file_.get())) throw std::runtime_error("Reading the file failed");
        position_ += read;
        return read;
    }

    void Seek(std::uint64_t offset) override {
        // 64-bit offsets: exported videos pass 2 GiB.
        const bool failed = offset > static_cast<std::uint64_t>(INT64_MAX) ||
                            fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0;
        if (failed) {
            throw std::runtime_error("Seeking in the file failed");
        }
        position_ = offset;
    }

    std::uint64_t Position() const override { return position_; }
    std::uint64_t Size() const override { return detail::SizeOfOpenFile(file_.get()); }
    FileIdentity Identity() const override { return detail::IdentityOfOpenFile(file_.get()); }

private:
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file_{nullptr, &std::fclose};
    std::uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<IPlatformByteStream> IPlatformByteStream::Create(const File& file, std::uint32_t flags) {
    if ((flags & kRead) == 0) throw std::invalid_argument("Byte streams are read-only");
    return std::make_unique<FileByteStream>(file);
}

}  // namespace talcore::filesupport
