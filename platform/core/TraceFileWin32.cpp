#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "TraceFile.h"
#include "WidePath.h"
#include "talcore/string/Unicode.h"

namespace talcore::debug::detail {

// The path as UTF-16 (a folder named in any script works), and shared for deleting and renaming
// as well as reading: a trace file left open by a running host can still be rotated or removed.
std::FILE* OpenTraceFile(const std::string& path) {
    const std::wstring wide = filesupport::ToWide(string::UTF8to16(path));
    const HANDLE handle =
        CreateFileW(wide.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_WRONLY | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    // Binary: lines end as the caller wrote them, the same bytes as on other systems.
    std::FILE* file = _fdopen(descriptor, "ab");
    if (!file) _close(descriptor);  // closes the handle too
    return file;
}

}  // namespace talcore::debug::detail
