#include <windows.h>

#include <stdexcept>

#include "FileIdentityWin32.h"
#include "WidePath.h"
#include "talcore/filesupport/ByteStream.h"
#include "talcore/string/Unicode.h"

namespace talcore::filesupport {
namespace {

class FileByteStream final : public IPlatformByteStream {
public:
    explicit FileByteStream(const File& file) {
        const std::string shown = string::UTF16to8(file.FullPath());
        if (file.FullPath().empty()) throw std::runtime_error("Cannot open " + shown + " for reading: not a file");
        // Others may read and even rename or delete the export while it uploads, as the encoder's
        // own tools do; a cut or replaced file shows in the upload's checks, not as a lock here.
        handle_ = CreateFileW(ToWide(file.FullPath()).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            // A folder cannot be opened without FILE_FLAG_BACKUP_SEMANTICS: it ends up here too.
            throw std::runtime_error("Cannot open " + shown + " for reading");
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(handle_, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CloseHandle(handle_);
            throw std::runtime_error("Cannot open " + shown + " for reading: not a file");
        }
    }
    ~FileByteStream() override { CloseHandle(handle_); }
    FileByteStream(const FileByteStream&) = delete;
    FileByteStream& operator=(const FileByteStream&) = delete;

    std::size_t Read(void* buffer, std::size_t size) override {
        // ReadFile takes a 32-bit count: a large request is read in pieces, and only the end of the
        // file makes it short.
        auto* bytes = static_cast<unsigned char*>(buffer);
        std::size_t total = 0;
        while (total < size) {
            const std::size_t left = size - total;
            const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
            DWORD got = 0;
            if (!ReadFile(handle_, bytes + total, ask, &got, nullptr)) {
                throw std::runtime_error("Reading the file failed");
            }
            if (got == 0) break;
            total += got;
        }
        position_ += total;
        return total;
    }

    void Seek(std::uint64_t offset) override {
        LARGE_INTEGER to{};
        to.QuadPart = static_cast<LONGLONG>(offset);
        if (offset > static_cast<std::uint64_t>(INT64_MAX) || !SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)) {
            throw std::runtime_error("Seeking in the file failed");
        }
        position_ = offset;
    }

    std::uint64_t Position() const override { return position_; }

    std::uint64_t Size() const override {
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(handle_, &size)) throw std::runtime_error("Asking the open file for its size failed");
        return static_cast<std::uint64_t>(size.QuadPart);
    }

    FileIdentity Identity() const override {
        const auto identity = detail::IdentityOfHandle(handle_);
        if (!identity) throw std::runtime_error("Asking the open file for its identity failed");
        return *identity;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::uint64_t position_ = 0;
};

}  // namespace

std::unique_ptr<IPlatformByteStream> IPlatformByteStream::Create(const File& file, std::uint32_t flags) {
    if ((flags & kRead) == 0) throw std::invalid_argument("Byte streams are read-only");
    return std::make_unique<FileByteStream>(file);
}

}  // namespace talcore::filesupport
