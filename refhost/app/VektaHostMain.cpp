// vekta-host: a command-line host that loads the TikTok post-process module and drives it through
// its exported table, as the Vekta host does.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "refhost/PluginModule.h"
#include "talcore/threads/MainThread.h"

namespace {

std::filesystem::path ExecutableDirectory(const char* argv0) {
    std::error_code error;
#if defined(__linux__)
    if (auto self = std::filesystem::read_symlink("/proc/self/exe", error); !error) return self.parent_path();
#endif
    return std::filesystem::absolute(argv0, error).parent_path();
}

void PrintUsage() {
    std::puts(
        "Usage: vekta-host [--plugin PATH] COMMAND\n"
        "\n"
        "Commands:\n"
        "  describe    load the module and print its description and callback table\n"
        "\n"
        "Options:\n"
        "  --plugin PATH   the post-process module (default: ../lib/TikTokPostProcess.so next to this program)");
}

int Describe(const vekta::host::PluginModule& module) {
    const auto& d = module.Description();
    std::printf("Module description\n  version     %u\n  identifier  '%s' (0x%08X)\n  name        %s\n", d.version,
                module.IdentifierText().c_str(), d.identifier, module.DisplayName().c_str());
    std::puts("Callback table");
    void* slots[14];
    std::memcpy(slots, &module.Callbacks(), sizeof slots);
    for (int slot = 0; slot < 14; ++slot) {
        const char* state = slot == 12 ? (slots[12] == reinterpret_cast<void*>(vekta::host::PluginModule::kHostSlot12Marker)
                                              ? "left to the host"
                                              : "CHANGED by the module")
                                       : (slots[slot] ? "set" : "EMPTY");
        std::printf("  %2d  %-20s %s\n", slot, vekta::host::CallbackSlotName(slot), state);
    }
    for (const auto& warning : module.Warnings()) std::printf("warning: %s\n", warning.c_str());
    return module.Warnings().empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    talcore::threads::DeclareMainThread();
    std::string pluginPath = (ExecutableDirectory(argv[0]) / ".." / "lib" / "TikTokPostProcess.so").string();
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string command;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--plugin" && i + 1 < args.size()) {
            pluginPath = args[++i];
        } else if (args[i] == "--help" || args[i] == "-h") {
            PrintUsage();
            return 0;
        } else if (command.empty()) {
            command = args[i];
        } else {
            std::fprintf(stderr, "vekta-host: unexpected argument '%s'\n", args[i].c_str());
            return 2;
        }
    }
    if (command.empty()) command = "describe";

    std::string error;
    const auto module = vekta::host::PluginModule::Load(pluginPath, error);
    if (!module) {
        std::fprintf(stderr, "vekta-host: cannot load %s: %s\n", pluginPath.c_str(), error.c_str());
        return 1;
    }
    if (command == "describe") return Describe(*module);
    std::fprintf(stderr, "vekta-host: unknown command '%s' (see --help)\n", command.c_str());
    return 2;
}
