// vekta-host's command line: global options, then one command with options of its own.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "HostSession.h"

namespace vekta::host {

// What a command line that cannot be used ends the program with.
constexpr int kUsageExitCode = 2;

enum class Command { Describe, Settings, SignIn, SignOut, Publish };

struct CommandLine {
    Command command = Command::Describe;
    GlobalOptions global;
    bool allSettings = false;  // settings --all
    PublishOptions publish;
};

struct CommandLineReading {
    std::optional<CommandLine> commandLine;  // empty: nothing to run; the program ends with exitCode
    int exitCode = 0;
};

// Reads `arguments` (UTF-8, without the program's name), starting from `defaults`. --help prints
// the usage to `out` (exit code 0); an unusable line is reported on `errors` with exit code
// kUsageExitCode. `canProbeVideos`: publish may read the video's facts itself, so --video-info is
// optional.
CommandLineReading ReadCommandLine(const std::vector<std::string>& arguments, const GlobalOptions& defaults,
                                   bool canProbeVideos, std::ostream& out, std::ostream& errors);

}  // namespace vekta::host
