// tiktok-sandbox: the local TikTok emulator as a program, for the demo and for tests that drive
// it as a separate process over its /_sandbox/ control API.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <system_error>

#include "sandbox/Sandbox.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: tiktok-sandbox [options]\n"
    "  --port N                 port on 127.0.0.1 (0, the default, picks a free one)\n"
    "  --port-file FILE         write the port and a newline to FILE once listening\n"
    "  --auto-approve           skip the consent page\n"
    "  --data-dir DIR           write received uploads to DIR, one file per upload id\n"
    "  --rotate-refresh-tokens  issue a new refresh token on every refresh\n"
    "  --refuse-rotated-refresh-tokens\n"
    "                           refuse a refresh token once a rotation has replaced it\n"
    "  --nickname NAME          the creator's nickname\n"
    "  --private-account        the creator's account is private\n"
    "  --verbose                print each request (method, path, status) as it is answered\n"
    "  --help                   show this text\n";

struct Options {
    vekta::sandbox::SandboxConfig config;
    unsigned long port = 0;
    std::string portFile;
    bool verbose = false;
};

// False (after saying why) when the command line is not usable.
bool ParseOptions(int argc, char** argv, Options& options, bool& help) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help") {
            help = true;
        } else if (arg == "--auto-approve") {
            options.config.autoApprove = true;
        } else if (arg == "--rotate-refresh-tokens") {
            options.config.rotateRefreshTokens = true;
        } else if (arg == "--refuse-rotated-refresh-tokens") {
            options.config.refuseRotatedRefreshTokens = true;
        } else if (arg == "--private-account") {
            options.config.creator.privateAccount = true;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--port" || arg == "--port-file" || arg == "--data-dir" || arg == "--nickname") {
            const char* text = value();
            if (!text) {
                std::cerr << "tiktok-sandbox: " << arg << " needs a value\n";
                return false;
            }
            if (arg == "--port") {
                char* end = nullptr;
                options.port = std::strtoul(text, &end, 10);
                if (*text == '\0' || *end != '\0' || options.port > 65535) {
                    std::cerr << "tiktok-sandbox: --port must be a number from 0 to 65535\n";
                    return false;
                }
            } else if (arg == "--port-file") {
                options.portFile = text;
            } else if (arg == "--data-dir") {
                options.config.dataDir = text;
            } else {
                options.config.creator.nickname = text;
            }
        } else {
            std::cerr << "tiktok-sandbox: unknown option " << arg << "\n" << kUsage;
            return false;
        }
    }
    return true;
}

// Written beside the target and renamed, so a reader never sees a half-written port.
bool WritePortFile(const std::string& path, unsigned port) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error);
    return !error;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!ParseOptions(argc, argv, options, help)) return 2;
    if (help) {
        std::cout << kUsage;
        return 0;
    }
    if (!options.config.dataDir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(options.config.dataDir, error);
        if (error) {
            std::cerr << "tiktok-sandbox: cannot create " << options.config.dataDir << ": " << error.message() << "\n";
            return 1;
        }
    }

    // Blocked before any thread starts, so every thread inherits the mask and only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    vekta::sandbox::Sandbox sandbox(options.config);
    if (options.verbose) {
        sandbox.SetRequestObserver([](const vekta::sandbox::RequestRecord& record) {
            std::printf("%s %s %d%s%s\n", record.method.c_str(), record.path.c_str(), record.status,
                        record.fault.empty() ? "" : " fault=", record.fault.c_str());
            std::fflush(stdout);
        });
    }
    if (!sandbox.Start(static_cast<std::uint16_t>(options.port))) {
        std::cerr << "tiktok-sandbox: cannot listen on 127.0.0.1:" << options.port << "\n";
        return 1;
    }
    if (!options.portFile.empty() && !WritePortFile(options.portFile, sandbox.Port())) {
        std::cerr << "tiktok-sandbox: cannot write " << options.portFile << "\n";
        return 1;
    }
    std::cout << "TikTok sandbox listening on " << sandbox.Origin() << std::endl;

    int received = 0;
    sigwait(&stopSignals, &received);
    sandbox.Stop();
    return 0;
}
