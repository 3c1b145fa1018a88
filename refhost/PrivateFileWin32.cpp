#include <windows.h>

#include <sddl.h>

#include <array>
#include <boost/algorithm/hex.hpp>
#include <cstdint>
#include <string>

#include "refhost/PrivateFile.h"
#include "talcore/crypto/SecureRandom.h"

namespace vekta::host {
namespace {

std::string SystemErrorText(DWORD code) { return "system error " + std::to_string(code); }

// Removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
    ~TemporaryFile() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
        if (!kept_) DeleteFileW(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    HANDLE& Handle() { return handle_; }
    void Keep() { kept_ = true; }

private:
    std::filesystem::path path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    bool kept_ = false;
};

std::wstring RandomSuffix() {
    std::array<std::uint8_t, 6> bytes{};
    talcore::crypto::FillSecureRandom(bytes.data(), bytes.size());
    std::wstring suffix;
    boost::algorithm::hex_lower(bytes.begin(), bytes.end(), std::back_inserter(suffix));
    return suffix;
}

// "D:P(A;;FA;;;<this user>)": a protected access list (the folder's entries are not inherited) that
// lets only the user this process runs as in.
std::wstring OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    std::array<std::uint8_t, 256> buffer{};
    DWORD size = 0;
    const bool got = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
    CloseHandle(token);
    if (!got) return {};
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) return {};
    std::wstring descriptor = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    return descriptor;
}

}  // namespace

std::string ReplacePrivateFile(const std::filesystem::path& path, std::string_view text) {
    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(L".");
    TemporaryFile temporary(folder / (L"." + path.filename().wstring() + L"." + RandomSuffix()));

    // Created owner-only, before any byte of the settings is in it.
    const std::wstring ownerOnly = OwnerOnlyDescriptor();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ownerOnly.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(ownerOnly.c_str(), SDDL_REVISION_1,
                                                                                   &descriptor, nullptr)) {
        temporary.Keep();
        return "cannot make an owner-only access list: " + SystemErrorText(GetLastError());
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor, FALSE};
    temporary.Handle() = CreateFileW(temporary.Path().c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD createError = GetLastError();
    LocalFree(descriptor);
    if (temporary.Handle() == INVALID_HANDLE_VALUE) {
        temporary.Keep();  // nothing was created
        return "cannot create a temporary file in " + folder.string() + ": " + SystemErrorText(createError);
    }
    std::size_t written = 0;
    while (written < text.size()) {
        const std::size_t left = text.size() - written;
        const DWORD ask = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!WriteFile(temporary.Handle(), text.data() + written, ask, &n, nullptr) || n == 0) {
            return "cannot write " + temporary.Path().string() + ": " + SystemErrorText(GetLastError());
        }
        written += n;
    }
    if (!FlushFileBuffers(temporary.Handle())) {
        return "cannot flush " + temporary.Path().string() + ": " + SystemErrorText(GetLastError());
    }
    const HANDLE handle = temporary.Handle();
    temporary.Handle() = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle)) {
        return "cannot close " + temporary.Path().string() + ": " + SystemErrorText(GetLastError());
    }
    // Write-through: the rename is on disk when this returns.
    if (!MoveFileExW(temporary.Path().c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return "cannot replace " + path.string() + ": " + SystemErrorText(GetLastError());
    }
    temporary.Keep();
    return {};
}

}  // namespace vekta::host
