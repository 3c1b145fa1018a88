#include <windows.h>

#include <filesystem>

#include "refhost/SharedLibrary.h"
#include "talcore/string/Unicode.h"

namespace vekta::host {
namespace {

std::string SystemMessage(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::u16string message(text, text + length);
    LocalFree(text);
    while (!message.empty() && (message.back() == u'\n' || message.back() == u'\r' || message.back() == u' ')) {
        message.pop_back();
    }
    return talcore::string::UTF16to8(message) + " (system error " + std::to_string(code) + ")";
}

}  // namespace

const char* const kModuleFileSuffix = ".dll";

void* OpenSharedLibrary(const std::string& path, std::string& error) {
    // Altered search path: the DLLs the module imports are looked for beside it first, as they
    // are installed together. It takes a full path (a relative one would search elsewhere).
    std::error_code ignored;
    const std::filesystem::path full = std::filesystem::absolute(talcore::string::UTF8to16(path), ignored);
    HMODULE module = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        error = SystemMessage(GetLastError());
        return nullptr;
    }
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<const wchar_t*>(module), &pinned);
    return module;
}

void* FindSharedLibrarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace vekta::host
