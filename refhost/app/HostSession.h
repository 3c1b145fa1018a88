// One run of the reference host: the plug-in loaded and given one instance with its export
// settings, optionally the built-in TikTok sandbox, and the commands a person runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PostProcessSDK.h"
#include "refhost/PluginModule.h"

namespace tiktok_sandbox {
class Sandbox;
}

namespace vekta::host {

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

private:
    bool HasCredentials();
    std::string StatusLine();
    bool SavePresetFile();
    bool SignInIfNeeded();
    void SetValue(const char* id, std::int32_t value);
    void JoinBrowsers();

    GlobalOptions options_;
    std::unique_ptr<PluginModule> module_;
    std::unique_ptr<tiktok_sandbox::Sandbox> sandbox_;
    HostInstanceRecord record_{};
    bool instanceCreated_ = false;
};

}  // namespace vekta::host
