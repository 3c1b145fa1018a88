#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <ostream>

namespace vekta::host {
namespace {

constexpr const char* kProgram = "vekta-host";

// CLI11 reads integers as C's strtoll with base 0, where a leading zero means octal: a cover time
// of "010" would be 8 ms. Milliseconds are decimal digits only.
std::int64_t ReadMilliseconds(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || text.front() == '-' || error != std::errc() || end != text.data() + text.size()) {
        throw CLI::ValidationError("--cover-ms", "takes a number of milliseconds, not '" + text + "'");
    }
    return value;
}

std::string OriginMapProblem(const std::string& text) {
    return text.find('=') == std::string::npos ? "takes FROM=TO, not '" + text + "'" : std::string();
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string joined;
    for (const auto& part : parts) joined += (joined.empty() ? "" : ",") + part;
    return joined;
}

}  // namespace

CommandLineReading ReadCommandLine(const std::vector<std::string>& arguments, const GlobalOptions& defaults,
                                   bool canProbeVideos, std::ostream& out, std::ostream& errors) {
    CommandLine line;
    line.global = defaults;
    std::vector<std::string> originMaps;
    std::vector<std::string> traces;

    CLI::App app(
        "A command-line host for the TikTok post-process module: loads it and drives it only through "
        "its exported table, as the Vekta host does.",
        kProgram);
    // A repeated option keeps its last value; '/' starts a path on every system, never an option.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.allow_windows_style_options(false);
    app.require_subcommand(1);

    app.add_option("--plugin", line.global.pluginPath,
                   "the module (default: TikTokPostProcess.so or .dll next to this program, else in ../lib)")
        ->type_name("PATH");
    app.add_option("--preset", line.global.presetPath,
                   "the export settings file (default: ~/.config/vekta-host/tiktok.preset, on Windows "
                   "%APPDATA%\\vekta-host\\tiktok.preset)")
        ->type_name("FILE");
    app.add_flag("--sandbox", line.global.sandbox,
                 "run the built-in TikTok sandbox and send TikTok's traffic to it (not on Windows: run "
                 "tiktok-sandbox and use --origin-map)");
    app.add_option("--origin-map", originMaps,
                   "send requests for origin FROM to TO (repeatable; as VEKTA_HOST_ORIGIN_MAP, a plain-http TO "
                   "must be 127.0.0.1, [::1] or localhost)")
        ->type_name("FROM=TO")
        ->check(OriginMapProblem)
        ->allow_extra_args(false)
        ->take_all();
    app.add_option("--trace", traces, "trace to stderr (repeatable; e.g. TikTok:5)")
        ->type_name("CATEGORY:LEVEL")
        ->allow_extra_args(false)
        ->take_all();

    // The global options may also follow the command.
    const auto command = [&app](const char* name, const char* description) {
        return app.add_subcommand(name, description)->fallthrough();
    };
    CLI::App* describe = command("describe", "print the module's description and callback table");
    CLI::App* settings = command("settings", "print the TikTok export settings");
    settings->add_flag("--all", line.allSettings, "hidden settings too");
    CLI::App* signIn = command("signin", "sign in to TikTok in the web browser; the preset keeps the account");
    CLI::App* signOut = command("signout", "sign out");
    CLI::App* publish = command("publish", "publish a video (signs in first when needed)");
    PublishOptions& post = line.publish;
    publish->add_option("FILE", post.file, "the video")->required();
    publish->add_flag("--draft", post.draft, "send to the TikTok inbox instead of posting");
    const CLI::Option* caption = publish->add_option("--caption", post.caption, "the post's caption");
    publish->add_option("--privacy", post.privacy, "who sees the post")
        ->type_name("WHO")
        ->check(CLI::IsMember({"everyone", "followers", "friends", "private"}));
    publish->add_flag("--allow-comment", post.allowComment, "let viewers comment");
    publish->add_flag("--allow-duet", post.allowDuet, "let viewers duet");
    publish->add_flag("--allow-stitch", post.allowStitch, "let viewers stitch");
    publish->add_flag("--delete-local-file", post.deleteLocalFile, "delete FILE after a successful upload");
    publish
        ->add_option_function<std::string>(
            "--cover-ms", [&post](const std::string& text) { post.coverMs = ReadMilliseconds(text); },
            "the cover image's time in the video, in milliseconds")
        ->type_name("N");
    publish
        ->add_option_function<std::string>(
            "--video-info",
            [&post](const std::string& text) {
                std::string problem;
                post.videoFacts = ParseVideoInfoOption(text, problem);
                if (!post.videoFacts) throw CLI::ValidationError(problem);  // it names the option
            },
            "the export's facts (e.g. 1080x1920@30:12000) instead of reading them from FILE; needed where "
            "vekta-host cannot read videos (Windows); the file type follows the name: .mp4 is H.264 in MP4, "
            ".mov QuickTime")
        ->type_name("WIDTHxHEIGHT@FPS:DURATION_MS");

    const auto unusable = [&errors](const std::string& problem) {
        errors << kProgram << ": " << problem << "\nRun '" << kProgram << " --help' (or '" << kProgram
               << " COMMAND --help') for the commands and their options.\n";
        return CommandLineReading{std::nullopt, kUsageExitCode};
    };
    try {
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return {std::nullopt, 0};
    } catch (const CLI::ParseError& error) {
        // A word where the command belongs is left over as an extra argument; say what it is.
        const auto left = app.remaining();
        if (app.get_subcommands().empty() && !left.empty() && left.front().rfind('-', 0) != 0) {
            return unusable("unknown command '" + left.front() + "'");
        }
        return unusable(error.what());
    }

    for (const auto& map : originMaps) {
        const auto equals = map.find('=');
        line.global.originMaps.emplace_back(map.substr(0, equals), map.substr(equals + 1));
    }
    line.global.trace = Joined(traces);
    post.captionGiven = caption->count() > 0;
    post.coverGiven = publish->get_option("--cover-ms")->count() > 0;

    const std::pair<const CLI::App*, Command> commands[] = {{describe, Command::Describe},
                                                            {settings, Command::Settings},
                                                            {signIn, Command::SignIn},
                                                            {signOut, Command::SignOut},
                                                            {publish, Command::Publish}};
    line.command =
        std::find_if(std::begin(commands), std::end(commands), [](const auto& c) { return c.first->parsed(); })->second;
    if (line.command == Command::Publish && !post.videoFacts && !canProbeVideos) {
        return unusable(
            "publish needs --video-info WIDTHxHEIGHT@FPS:DURATION_MS here: this vekta-host cannot read a video's "
            "facts (it is built without FFmpeg)");
    }
    return {std::move(line), 0};
}

}  // namespace vekta::host
