// What the host program needs from the operating system; one implementation per system beside this
// header. Texts the program handles are UTF-8; paths are made from UTF-16, so that a name in any
// script reaches the file system whole.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "talcore/string/Unicode.h"

namespace vekta::host {

// The command's arguments as UTF-8, without the program's name. The console (where there is one)
// shows the program's UTF-8 output from here on.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The folder of the running program.
std::filesystem::path ExecutableDirectory(const char* argv0);

// Where the preset is kept unless --preset says otherwise.
std::filesystem::path DefaultPresetPath();

// Ctrl-C (and a request to end the program) sets InterruptRequested() instead of ending it.
void InstallInterruptHandler();

bool StdinIsTerminal();
bool StdoutIsTerminal();
// Waits up to 100 ms for input on a terminal; true when Enter was pressed.
bool EnterPressed();

inline std::filesystem::path PathFromUTF8(const std::string& text) {
    return std::filesystem::path(talcore::string::UTF8to16(text));
}
inline std::string PathToUTF8(const std::filesystem::path& path) { return talcore::string::UTF16to8(path.u16string()); }

}  // namespace vekta::host
