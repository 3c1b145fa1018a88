#include <windows.h>

#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <memory>

#include "HostSystem.h"
#include "TerminalPrompt.h"

namespace vekta::host {
namespace {

std::u16string FromWide(const wchar_t* text) {
    const std::wstring_view view(text);
    return std::u16string(view.begin(), view.end());
}

// The console's code page outlives the program (it is the console's), so it is given back.
UINT savedOutputCodePage = 0;

void RestoreConsoleCodePage() {
    if (savedOutputCodePage != 0) SetConsoleOutputCP(savedOutputCodePage);
}

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterruptRequested().store(true);
    return TRUE;
}

}  // namespace

std::vector<std::string> CommandLineArguments(int, char**) {
    // The narrow arguments are in the ANSI code page and lose every character outside it.
    int count = 0;
    const std::unique_ptr<wchar_t*, decltype(&LocalFree)> wide(CommandLineToArgvW(GetCommandLineW(), &count),
                                                               &LocalFree);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i) arguments.push_back(talcore::string::UTF16to8(FromWide(wide.get()[i])));
    if (const UINT current = GetConsoleOutputCP(); current != 0 && current != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        savedOutputCodePage = current;
        std::atexit(&RestoreConsoleCodePage);
    }
    return arguments;
}

std::filesystem::path ExecutableDirectory(const char*) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return std::filesystem::current_path();
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path DefaultPresetPath() {
    std::filesystem::path base;
    if (const wchar_t* appData = _wgetenv(L"APPDATA"); appData && *appData) {
        base = appData;
    } else if (wchar_t* known = nullptr;
               SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &known))) {
        base = known;
        CoTaskMemFree(known);
    } else {
        base = std::filesystem::temp_directory_path();
    }
    return base / L"vekta-host" / L"tiktok.preset";
}

void InstallInterruptHandler() {
    // A program started in a new process group has Ctrl-C turned off until it turns it back on.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool StdinIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

bool StdoutIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool EnterPressed() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (WaitForSingleObject(input, 100) != WAIT_OBJECT_0) return false;
    // Every kind of console event wakes the wait (mouse, focus, key releases); only a pressed
    // Enter counts, and all of them are taken off the queue.
    INPUT_RECORD records[16];
    DWORD count = 0;
    if (!ReadConsoleInputW(input, records, 16, &count)) return false;
    for (DWORD i = 0; i < count; ++i) {
        const auto& record = records[i];
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown &&
            record.Event.KeyEvent.wVirtualKeyCode == VK_RETURN) {
            return true;
        }
    }
    return false;
}

}  // namespace vekta::host
