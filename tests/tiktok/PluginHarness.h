// Drives the real module the way the host does, against the TikTok sandbox on 127.0.0.1: the module
// loaded by path, an instance record whose basic suite is the reference host's, the host's status
// and account callbacks, TikTok's two origins mapped to the sandbox, and a stand-in for the user's
// browser and for the person in front of the login prompt.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PostProcessSDK.h"
#include "refhost/ExportParamHost.h"
#include "refhost/StatusRecorder.h"
#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Sandbox.h"

namespace vekta::test {

vekta::sandbox::SandboxConfig DefaultSandboxConfig();

class PluginHarness {
public:
    explicit PluginHarness(vekta::sandbox::SandboxConfig config = DefaultSandboxConfig());
    // Drives the plug-in's code linked into the test program through `linkedTable` (what
    // FillCallbackTable writes) instead of loading the module, for tests that reach into the
    // uploader itself. A program must not do both.
    explicit PluginHarness(const PostProcessCallbacks& linkedTable,
                           vekta::sandbox::SandboxConfig config = DefaultSandboxConfig());
    ~PluginHarness();
    PluginHarness(const PluginHarness&) = delete;
    PluginHarness& operator=(const PluginHarness&) = delete;

    vekta::sandbox::Sandbox& Sandbox() { return *sandbox_; }
    const PostProcessCallbacks& Table() const;
    HostInstanceRecord& Record() { return record_; }
    std::uint32_t InstanceID() const { return record_.instanceID; }
    host::ExportParamHost& Settings() { return host::ExportParamHost::Get(); }

    // CreateInstance, AddParameters, RefreshParameters; each must answer 0.
    void CreateAddAndRefresh();
    std::int32_t Refresh() { return Table().refreshParameters(&record_); }
    std::int32_t Changed(const char* parameterID) { return Table().parameterChanged(&record_, parameterID); }
    // Presses the sign-in button; the browser stand-in signs in unless SetBrowserAction says
    // otherwise. Returns whether the instance then holds credentials.
    bool SignIn();

    // Settings as the user sets them in the host.
    void SetInteger(const char* id, std::int32_t value);
    void SetTime(const char* id, std::int64_t value);
    void SetText(const char* id, const std::u16string& text);
    host::EntrySnapshot Entry(const char* id) const;
    std::int32_t Integer(const char* id) const { return Entry(id).value.intValue; }
    std::int64_t Time(const char* id) const { return Entry(id).value.timeValue; }
    std::u16string Text(const char* id) const { return Entry(id).text; }  // text parameters
    std::u16string ArrayText(const char* id) const;                       // byte-array parameters holding text
    bool Disabled(const char* id) const { return Entry(id).disabled; }
    std::u16string Name(const char* id) const { return Entry(id).name; }
    std::vector<std::u16string> ChoiceLabels(const char* id) const;

    std::vector<host::StatusEvent> StatusEvents() const;
    std::vector<host::AccountEvent> AccountEvents() const;
    bool HasCredentials() const;

    // The address the plug-in last opened in the "browser", and how many login prompts were shown.
    std::string LastOpenedAddress() const;
    int PromptsShown() const;
    // What the last login prompt shown said: its title, message and the captions of its four button
    // places, in order.
    struct PromptTexts {
        std::u16string title;
        std::u16string message;
        std::array<std::u16string, 4> captions;
    };
    std::optional<PromptTexts> LastPrompt() const;

    // For the browser stand-in: runs on its own thread; the harness joins it.
    void SetBrowserAction(std::function<void(const std::string& address)> action);
    // [any-thread] Presses "Cancel" on the login prompt being shown; false when none is shown.
    bool PressPromptCancel();

private:
    std::unique_ptr<vekta::sandbox::Sandbox> sandbox_;
    HostInstanceRecord record_{};
    std::optional<PostProcessCallbacks> linkedTable_;
};

// Bounded polling for conditions that other threads make true.
// Bounded polling without pumping the main thread's tasks, safe on any thread (a browser's, say).
bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// How many requests the sandbox has received for `endpoint` ("token", "creator_info", ...).
std::size_t CountRequests(vekta::sandbox::Sandbox& sandbox, const std::string& endpoint);

}  // namespace vekta::test
