#include <windows.h>

#include <shellapi.h>

#include "OpenWithSystem.h"
#include "talcore/string/Unicode.h"

namespace talcore::utility::detail {

// The shell's own "open" on the address as UTF-16, so a path in any script opens; the browser
// gets no console of the host's.
bool OpenWithSystem(const std::string& address) {
    const std::u16string wide = string::UTF8to16(address);
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, L"open", reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;  // the shell's convention: larger than 32 is success
}

}  // namespace talcore::utility::detail
