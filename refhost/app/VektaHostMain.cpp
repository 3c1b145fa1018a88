// vekta-host: a command-line host that loads the TikTok post-process module and drives it only
// through its exported table, as the Vekta host does.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "HostSession.h"
#include "HostSystem.h"
#include "VideoProbe.h"
#include "refhost/ModuleLocation.h"
#include "refhost/PluginModule.h"
#include "refhost/SharedLibrary.h"
#include "talcore/threads/MainThread.h"

namespace {

using vekta::host::Command;
using vekta::host::CommandLine;
using vekta::host::GlobalOptions;

using vekta::host::DefaultModulePath;  // beside the program, in ../lib, or where the install puts it

int Describe(const vekta::host::PluginModule& module) {
    const auto& d = module.Description();
    std::printf("Module description\n  version     %u\n  identifier  '%s' (0x%08X)\n  name        %s\n", d.version,
                module.IdentifierText().c_str(), d.identifier, module.DisplayName().c_str());
    std::puts("Callback table");
    void* slots[kPostProcessCallbackSlotCount];
    std::memcpy(slots, &module.Callbacks(), sizeof slots);
    for (int slot = 0; slot < kPostProcessCallbackSlotCount; ++slot) {
        const char* state =
            slot == kPostProcessHostSlot
                ? (slots[kPostProcessHostSlot] == reinterpret_cast<void*>(vekta::host::PluginModule::kHostSlot12Marker)
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
    const std::vector<std::string> args = vekta::host::CommandLineArguments(argc, argv);
    talcore::threads::DeclareMainThread();
    vekta::host::InstallInterruptHandler();
    GlobalOptions defaults;
    defaults.pluginPath = DefaultModulePath(vekta::host::ExecutableDirectory(argc > 0 ? argv[0] : ""));
    const auto reading =
        vekta::host::ReadCommandLine(args, defaults, vekta::host::CanProbeVideos(), std::cout, std::cerr);
    if (!reading.commandLine) return reading.exitCode;
    const CommandLine& line = *reading.commandLine;

    if (line.command == Command::Describe) {
        std::string error;
        const auto module = vekta::host::PluginModule::Load(line.global.pluginPath, error);
        if (!module) {
            std::fprintf(stderr, "vekta-host: cannot load %s: %s\n", line.global.pluginPath.c_str(), error.c_str());
            return 1;
        }
        return Describe(*module);
    }

    vekta::host::HostSession session;
    std::string error;
    if (!session.Open(line.global, error)) {
        std::fprintf(stderr, "vekta-host: %s\n", error.c_str());
        return 1;
    }
    const int status = line.command == Command::Settings  ? session.ShowSettings(line.allSettings)
                       : line.command == Command::SignIn  ? session.SignIn()
                       : line.command == Command::SignOut ? session.SignOut()
                                                          : session.Publish(line.publish);
    session.KeepHandOver();
    return status;
}
