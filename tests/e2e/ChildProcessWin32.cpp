#include <windows.h>

#include <atomic>

#include "talcore/string/Unicode.h"
#include "talcore/utility/Guid.h"
#include "tests/e2e/ChildProcess.h"

namespace vekta::test {
namespace {

std::wstring Wide(const std::string& text) {
    const std::u16string wide = talcore::string::UTF8to16(text);
    return std::wstring(wide.begin(), wide.end());
}

// One argument as CommandLineToArgvW and the C runtime read it back: quoted when it has blanks or
// quotes, backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& argument) {
    if (!line.empty()) line.push_back(L' ');
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += argument;
        return;
    }
    line.push_back(L'"');
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line.push_back(c);
    }
    line.append(backslashes * 2, L'\\');
    line.push_back(L'"');
}

// The current environment with `changes` put in (names compare without case, as Windows does).
std::wstring EnvironmentBlock(const std::map<std::string, std::string>& changes) {
    std::map<std::wstring, std::wstring> replaced;
    for (const auto& [name, value] : changes) replaced[Wide(name)] = Wide(value);
    const auto sameName = [](const std::wstring& a, const std::wstring& b) {
        return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                    TRUE) == CSTR_EQUAL;
    };
    std::wstring block;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1) {
        const std::wstring text(entry);
        // Entries such as "=C:=C:\" name a drive's folder; their names start after the first "=".
        const std::wstring name = text.substr(0, text.find(L'=', 1));
        bool isReplaced = false;
        for (const auto& [changed, value] : replaced) isReplaced = isReplaced || sameName(name, changed);
        if (!isReplaced) block.append(text).push_back(L'\0');
    }
    FreeEnvironmentStringsW(strings);
    for (const auto& [name, value] : replaced) block.append(name + L"=" + value).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

std::filesystem::path TempPath(const char* kind) {
    return std::filesystem::temp_directory_path() /
           ("vekta-e2e-" + talcore::utility::Guid::CreateUnique().AsUTF8String() + kind);
}

// Ctrl-C pressed for a child reaches this process too. Swallowed by a handler rather than ignored
// with a null one: children inherit the ignoring, not the handler.
BOOL WINAPI SwallowCtrlC(DWORD event) { return event == CTRL_C_EVENT ? TRUE : FALSE; }

HANDLE InheritableFile(const std::filesystem::path& path, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    // Shared, so that the test reads what was written while the program still runs.
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

struct ChildProcess::Process {
    HANDLE handle = nullptr;
    DWORD id = 0;
};

ChildProcess::ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> environment)
    : process_(std::make_unique<Process>()), outPath_(TempPath(".out")), errPath_(TempPath(".err")) {
    std::wstring commandLine;
    for (const auto& argument : argv) AppendArgument(commandLine, Wide(argument));
    std::wstring block = EnvironmentBlock(environment);

    const HANDLE input = InheritableFile(L"NUL", GENERIC_READ, OPEN_EXISTING);
    const HANDLE output = InheritableFile(outPath_, GENERIC_WRITE, CREATE_ALWAYS);
    const HANDLE errors = InheritableFile(errPath_, GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = errors;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_CONSOLE, block.data(), nullptr, &startup, &started)) {
        CloseHandle(started.hThread);
        process_->handle = started.hProcess;
        process_->id = started.dwProcessId;
    }
    for (const HANDLE h : {input, output, errors})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

ChildProcess::~ChildProcess() {
    if (process_->handle) {
        if (!exited_) {
            TerminateProcess(process_->handle, 1);
            WaitForSingleObject(process_->handle, 10000);
        }
        CloseHandle(process_->handle);
    }
    std::error_code ignored;
    std::filesystem::remove(outPath_, ignored);
    std::filesystem::remove(errPath_, ignored);
}

int ChildProcess::Wait(std::chrono::milliseconds timeout) {
    if (!process_->handle || exited_) return status_;
    exited_ = true;
    if (WaitForSingleObject(process_->handle, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        TerminateProcess(process_->handle, 1);
        WaitForSingleObject(process_->handle, 10000);
        status_ = -1;
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_->handle, &code);
    status_ = static_cast<int>(code);
    return status_;
}

void ChildProcess::Interrupt() {
    if (!process_->handle || exited_) return;
    // Ctrl-C goes to every process of a console: this one joins the child's for the moment it is
    // pressed, and swallows it itself from then on (the event may arrive after it has left again).
    static const bool swallowing = SetConsoleCtrlHandler(&SwallowCtrlC, TRUE) != 0;
    (void)swallowing;
    FreeConsole();
    if (AttachConsole(process_->id)) {
        GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        FreeConsole();
    }
}

void ChildProcess::Terminate() {
    if (process_->handle && !exited_) TerminateProcess(process_->handle, 1);
}

}  // namespace vekta::test
