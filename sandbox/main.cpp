// tiktok-sandbox: the local TikTok emulator as a program, for the demo and for tests that drive
// it as a separate process over its /_sandbox/ control API.
#include <pthread.h>
#include <signal.h>

#include <CLI/CLI.hpp>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>

#include "sandbox/Sandbox.h"

namespace {

constexpr int kUsageExitCode = 2;

struct Options {
    vekta::sandbox::SandboxConfig config;
    std::uint16_t port = 0;
    std::string portFile;
    bool verbose = false;
};

// CLI11 reads integers as C's strtoul with base 0, where a leading zero means octal; a port is
// decimal digits only.
std::uint16_t ReadPort(const std::string& text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > 65535) {
        throw CLI::ValidationError("--port", "must be a number from 0 to 65535, not '" + text + "'");
    }
    return static_cast<std::uint16_t>(value);
}

// Empty when the program is to end at once with `exitCode` (after --help, or an unusable line).
std::optional<Options> ReadCommandLine(int argc, char** argv, int& exitCode) {
    Options options;
    CLI::App app(
        "The local TikTok emulator on 127.0.0.1, for the demo and for tests that drive it over its "
        "/_sandbox/ control API.",
        "tiktok-sandbox");
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.allow_windows_style_options(false);
    app.add_option_function<std::string>(
           "--port", [&options](const std::string& text) { options.port = ReadPort(text); },
           "port on 127.0.0.1 (0, the default, picks a free one)")
        ->type_name("N");
    app.add_option("--port-file", options.portFile, "write the port and a newline to FILE once listening")
        ->type_name("FILE");
    app.add_flag("--auto-approve", options.config.autoApprove, "skip the consent page");
    app.add_option("--data-dir", options.config.dataDir, "write received uploads to DIR, one file per upload id")
        ->type_name("DIR");
    app.add_flag("--rotate-refresh-tokens", options.config.rotateRefreshTokens,
                 "issue a new refresh token on every refresh");
    app.add_flag("--refuse-rotated-refresh-tokens", options.config.refuseRotatedRefreshTokens,
                 "refuse a refresh token once a rotation has replaced it");
    app.add_option("--nickname", options.config.creator.nickname, "the creator's nickname")->type_name("NAME");
    app.add_flag("--private-account", options.config.creator.privateAccount, "the creator's account is private");
    app.add_flag("--verbose", options.verbose, "print each request (method, path, status) as it is answered");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        exitCode = 0;
        return std::nullopt;
    } catch (const CLI::ParseError& error) {
        std::cerr << "tiktok-sandbox: " << error.what() << "\nRun 'tiktok-sandbox --help' for the options.\n";
        exitCode = kUsageExitCode;
        return std::nullopt;
    }
    return options;
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
    int exitCode = 0;
    const std::optional<Options> read = ReadCommandLine(argc, argv, exitCode);
    if (!read) return exitCode;
    const Options& options = *read;
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
    if (!sandbox.Start(options.port)) {
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
