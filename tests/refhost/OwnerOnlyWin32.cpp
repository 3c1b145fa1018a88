#include <windows.h>

#include <aclapi.h>

#include <array>
#include <cstdint>

#include "tests/refhost/OwnerOnly.h"

namespace vekta::test {
namespace {

bool IsThisUserOrSystem(PSID sid) {
    std::array<std::uint8_t, 256> user{};
    HANDLE token = nullptr;
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    const bool got = GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
    CloseHandle(token);
    if (got && EqualSid(sid, reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid)) return true;
    std::array<std::uint8_t, SECURITY_MAX_SID_SIZE> system{};
    DWORD systemSize = static_cast<DWORD>(system.size());
    return CreateWellKnownSid(WinLocalSystemSid, nullptr, system.data(), &systemSize) && EqualSid(sid, system.data());
}

}  // namespace

// Owner-only on Windows: every entry of the access list allows, and only this user (or the system
// itself, which Windows never shuts out) is named.
bool OnlyOwnerHasAccess(const std::filesystem::path& file) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(file.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &acl, nullptr,
                              &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    ACL_SIZE_INFORMATION size{};
    bool ownerOnly = acl && GetAclInformation(acl, &size, sizeof(size), AclSizeInformation) && size.AceCount > 0;
    for (DWORD i = 0; ownerOnly && i < size.AceCount; ++i) {
        void* ace = nullptr;
        ownerOnly = GetAce(acl, i, &ace) && static_cast<ACE_HEADER*>(ace)->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                    IsThisUserOrSystem(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
    }
    LocalFree(descriptor);
    return ownerOnly;
}

// The file's access list as the folder gives it: open to whoever the folder lets in.
void OpenToEveryone(const std::filesystem::path&) {}

}  // namespace vekta::test
