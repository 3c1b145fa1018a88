// vekta-host: a command-line host that loads the TikTok post-process module and drives it only
// through its exported table, as the Vekta host does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "HostSession.h"
#include "HostSystem.h"
#include "VideoProbe.h"
#include "refhost/ModuleLocation.h"
#include "refhost/PluginModule.h"
#include "refhost/SharedLibrary.h"
#include "refhost/VideoInfoOption.h"
#include "talcore/threads/MainThread.h"

namespace {

using vekta::host::GlobalOptions;
using vekta::host::PublishOptions;

constexpr const char* kUsage =
    "Usage: vekta-host [GLOBAL OPTIONS] COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  describe                 print the module's description and callback table\n"
    "  settings [--all]         print the TikTok export settings (--all: hidden ones too)\n"
    "  signin                   sign in to TikTok in the web browser; the preset keeps the account\n"
    "  signout                  sign out\n"
    "  publish FILE [OPTIONS]   publish a video (signs in first when needed)\n"
    "      --draft                 send to the TikTok inbox instead of posting\n"
    "      --caption TEXT          the post's caption\n"
    "      --privacy WHO           everyone, followers, friends or private\n"
    "      --allow-comment --allow-duet --allow-stitch\n"
    "      --delete-local-file     delete FILE after a successful upload\n"
    "      --cover-ms N            the cover image's time in the video, in milliseconds\n"
    "      --video-info WIDTHxHEIGHT@FPS:DURATION_MS\n"
    "                              the export's facts (e.g. 1080x1920@30:12000) instead of reading them\n"
    "                              from FILE; needed where vekta-host cannot read videos (Windows); the\n"
    "                              file type follows the name: .mp4 is H.264 in MP4, .mov QuickTime\n"
    "\n"
    "Global options:\n"
    "  --plugin PATH            the module (default: TikTokPostProcess.so or .dll next to this program,\n"
    "                           else in ../lib)\n"
    "  --preset FILE            the export settings file (default: ~/.config/vekta-host/tiktok.preset,\n"
    "                           on Windows %APPDATA%\\vekta-host\\tiktok.preset)\n"
    "  --sandbox                run the built-in TikTok sandbox and send TikTok's traffic to it (not on\n"
    "                           Windows: run tiktok-sandbox and use --origin-map)\n"
    "  --origin-map FROM=TO     send requests for origin FROM to TO (repeatable; as VEKTA_HOST_ORIGIN_MAP,\n"
    "                           a plain-http TO must be 127.0.0.1, [::1] or localhost)\n"
    "  --trace CATEGORY:LEVEL   trace to stderr (repeatable; e.g. TikTok:5)\n";

using vekta::host::DefaultModulePath;  // beside the program, in ../lib, or where the install puts it

int Usage(const std::string& problem) {
    std::fprintf(stderr, "vekta-host: %s\n\n%s", problem.c_str(), kUsage);
    return 2;
}

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
    GlobalOptions global;
    global.pluginPath = DefaultModulePath(vekta::host::ExecutableDirectory(argc > 0 ? argv[0] : ""));
    std::size_t i = 0;
    const auto value = [&](const std::string& option) -> const std::string* {
        if (i + 1 >= args.size()) return nullptr;
        (void)option;
        return &args[++i];
    };
    std::string traces;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        const std::string& a = args[i];
        if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--sandbox") {
            global.sandbox = true;
        } else if (a == "--plugin" || a == "--preset" || a == "--origin-map" || a == "--trace") {
            const std::string* v = value(a);
            if (!v) return Usage(a + " needs a value");
            if (a == "--plugin") global.pluginPath = *v;
            if (a == "--preset") global.presetPath = *v;
            if (a == "--trace") traces += (traces.empty() ? "" : ",") + *v;
            if (a == "--origin-map") {
                const auto equals = v->find('=');
                if (equals == std::string::npos) return Usage("--origin-map takes FROM=TO");
                global.originMaps.emplace_back(v->substr(0, equals), v->substr(equals + 1));
            }
        } else {
            return Usage("unknown option " + a);
        }
    }
    global.trace = traces;
    if (i >= args.size()) return Usage("no command given");
    const std::string command = args[i++];

    bool all = false;
    PublishOptions publish;
    for (; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--preset") {
            const std::string* v = value(a);
            if (!v) return Usage("--preset needs a value");
            global.presetPath = *v;
        } else if (command == "settings" && a == "--all") {
            all = true;
        } else if (command == "publish" && a == "--draft") {
            publish.draft = true;
        } else if (command == "publish" && a == "--caption") {
            const std::string* v = value(a);
            if (!v) return Usage("--caption needs a value");
            publish.caption = *v;
            publish.captionGiven = true;
        } else if (command == "publish" && a == "--privacy") {
            const std::string* v = value(a);
            if (!v || (*v != "everyone" && *v != "followers" && *v != "friends" && *v != "private")) {
                return Usage("--privacy takes everyone, followers, friends or private");
            }
            publish.privacy = *v;
        } else if (command == "publish" && a == "--allow-comment") {
            publish.allowComment = true;
        } else if (command == "publish" && a == "--allow-duet") {
            publish.allowDuet = true;
        } else if (command == "publish" && a == "--allow-stitch") {
            publish.allowStitch = true;
        } else if (command == "publish" && a == "--delete-local-file") {
            publish.deleteLocalFile = true;
        } else if (command == "publish" && a == "--cover-ms") {
            const std::string* v = value(a);
            char* end = nullptr;
            if (!v || v->empty() || (publish.coverMs = std::strtoll(v->c_str(), &end, 10), *end != '\0') ||
                publish.coverMs < 0) {
                return Usage("--cover-ms takes a number of milliseconds");
            }
            publish.coverGiven = true;
        } else if (command == "publish" && a == "--video-info") {
            const std::string* v = value(a);
            if (!v) return Usage("--video-info needs WIDTHxHEIGHT@FPS:DURATION_MS");
            std::string problem;
            publish.videoFacts = vekta::host::ParseVideoInfoOption(*v, problem);
            if (!publish.videoFacts) return Usage(problem);
        } else if (command == "publish" && publish.file.empty() && a.rfind("--", 0) != 0) {
            publish.file = a;
        } else {
            return Usage("unexpected argument '" + a + "' for " + command);
        }
    }

    if (command == "describe") {
        std::string error;
        const auto module = vekta::host::PluginModule::Load(global.pluginPath, error);
        if (!module) {
            std::fprintf(stderr, "vekta-host: cannot load %s: %s\n", global.pluginPath.c_str(), error.c_str());
            return 1;
        }
        return Describe(*module);
    }
    if (command != "settings" && command != "signin" && command != "signout" && command != "publish") {
        return Usage("unknown command '" + command + "'");
    }
    if (command == "publish" && publish.file.empty()) return Usage("publish needs a FILE");
    if (command == "publish" && !publish.videoFacts && !vekta::host::CanProbeVideos()) {
        return Usage(
            "publish needs --video-info WIDTHxHEIGHT@FPS:DURATION_MS here: this vekta-host cannot read a "
            "video's facts (it is built without FFmpeg)");
    }

    vekta::host::HostSession session;
    std::string error;
    if (!session.Open(global, error)) {
        std::fprintf(stderr, "vekta-host: %s\n", error.c_str());
        return 1;
    }
    const int status = command == "settings"  ? session.ShowSettings(all)
                       : command == "signin"  ? session.SignIn()
                       : command == "signout" ? session.SignOut()
                                              : session.Publish(publish);
    session.KeepHandOver();
    return status;
}
