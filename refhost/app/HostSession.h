// One run of the reference host: the plug-in loaded and given one instance with its export
// settings, optionally the built-in TikTok sandbox, and the commands a person runs.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PostProcessSDK.h"
#include "refhost/ExportParamHost.h"
#include "refhost/PluginModule.h"
#include "refhost/VideoInfoOption.h"

namespace vekta::host {

class BuiltInSandbox;

// Texts and paths are UTF-8.
struct GlobalOptions {
    std::string pluginPath;
    bool sandbox = false;
    std::vector<std::pair<std::string, std::string>> originMaps;
    std::string trace;
    std::string presetPath;
};

struct PublishOptions {
    std::string file;
    bool draft = false;
    bool captionGiven = false;
    std::string caption;
    std::string privacy;  // everyone, followers, friends, private; empty: as the settings hold it
    bool allowComment = false;
    bool allowDuet = false;
    bool allowStitch = false;
    bool deleteLocalFile = false;
    bool coverGiven = false;
    std::int64_t coverMs = 0;
    std::optional<VideoFacts> videoFacts;  // --video-info: instead of reading them from the file
};

class HostSession {
public:
    HostSession();
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Loads the plug-in, makes the instance, adds its settings, loads the preset (when there is one)
    // and refreshes. False with `error` set when any of that fails.
    bool Open(const GlobalOptions& options, std::string& error);

    int ShowSettings(bool all);
    int SignIn();
    int SignOut();
    int Publish(const PublishOptions& options);
    // At the end of every command: when the plug-in handed over a refresh token since the preset
    // was last saved (TikTok may replace it at any refresh and retire the old one), the preset is
    // saved with it, so that the next run does not start with a retired token. The other settings
    // are kept as the preset had them: a publish run's options are for that run only.
    void KeepHandOver();

private:
    bool HasCredentials();
    std::string StatusLine();
    bool SavePresetFile();
    // Notes the refresh token in the hand-over parameter, if any, after a callback.
    void NoteHandOver();
    bool SignInIfNeeded();
    void SetValue(const char* id, std::int32_t value);
    void JoinBrowsers();
    // Publish's steps: the video's facts (probed, or as given), the options as TikTok settings (2
    // when the privacy asked for is not offered), the file handed over as an export (false when
    // the plug-in does not take its format), and the export itself until it ends or is aborted.
    std::optional<ExportVideoInfo> ReadVideoInfo(const PublishOptions& options);
    int ApplyPublishOptions(const PublishOptions& options, const ExportVideoInfo& info);
    bool HandOverExport(const std::filesystem::path& file, ExportVideoInfo& info);
    void RunExport(const std::filesystem::path& file, bool draft);

    GlobalOptions options_;
    std::unique_ptr<PluginModule> module_;
    std::unique_ptr<BuiltInSandbox> sandbox_;
    HostInstanceRecord record_{};
    bool instanceCreated_ = false;
    // The settings as the preset holds them (loaded, or last saved), and the refresh token handed
    // over since then.
    std::optional<InstanceSettings> presetSettings_;
    std::vector<std::uint8_t> handOver_;
};

}  // namespace vekta::host
