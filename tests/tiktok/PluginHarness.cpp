#include "tests/tiktok/PluginHarness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "refhost/BasicSuiteHost.h"
#include "refhost/HostRecord.h"
#include "refhost/PluginModule.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/OpenFileInDefaultApplication.h"
#include "talnet/http/OriginMap.h"
#include "talui/MessageBox.h"

namespace vekta::test {
namespace {

const host::PluginModule& Module() {
    static std::unique_ptr<host::PluginModule> module = [] {
        std::string error;
        auto loaded = host::PluginModule::Load(VEKTA_PLUGIN_PATH, error);
        if (!loaded) throw std::runtime_error("cannot load the module: " + error);
        return loaded;
    }();
    return *module;
}

// The person at the keyboard: what their browser does with an address, and what they do with the
// login prompt. Process-wide, as the platform's hooks are.
struct Person {
    std::mutex mutex;
    std::function<void(const std::string&)> customBrowser;
    std::vector<std::thread> browserThreads;
    std::string lastAddress;
    int prompts = 0;
    std::optional<PluginHarness::PromptTexts> lastPrompt;
    talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox> shownBox;

    void JoinBrowsers() {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex);
            threads.swap(browserThreads);
        }
        for (auto& t : threads) t.join();
    }
};

Person& ThePerson() {
    static auto* person = new Person;
    return *person;
}

class PromptPresenter final : public talui::dialogs::MessageBoxPresenter {
public:
    void Show(talui::dialogs::UI_MessageBox& box) override {
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        ++p.prompts;
        p.lastPrompt = PluginHarness::PromptTexts{box.GetTitle(), box.GetMessage(), box.GetCaptions()};
        p.shownBox = talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox>(&box);
    }
    void Hidden(talui::dialogs::UI_MessageBox&) override {
        talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox> box;
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        box = std::move(p.shownBox);
    }
};

void OpenInBrowser(const std::string& address) {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    p.lastAddress = address;
    p.browserThreads.emplace_back([action = p.customBrowser, address] {
        if (action) {
            action(address);
        } else {
            vekta::sandbox::HeadlessBrowser().Open(address);
        }
    });
}

void InstallPersonOnce() {
    static const bool installed = [] {
        // No real browser: every address goes to the stand-in through the host's fallback.
        setenv("BROWSER", "vekta-test-no-such-browser", 1);
        talcore::utility::SetOpenFileFallback(&OpenInBrowser);
        static PromptPresenter presenter;
        talui::dialogs::SetMessageBoxPresenter(&presenter);
        return true;
    }();
    (void)installed;
}

std::uint32_t NextInstanceID() {
    static std::atomic<std::uint32_t> next{7000};
    return ++next;
}

}  // namespace

vekta::sandbox::SandboxConfig DefaultSandboxConfig() {
    vekta::sandbox::SandboxConfig config;
    config.autoApprove = false;
    config.keepUploadBytesInMemory = false;
    config.maxPendingUploads = 0;
    return config;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        talcore::threads::PumpMainThreadTasks();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

PluginHarness::PluginHarness(vekta::sandbox::SandboxConfig config)
    : sandbox_(std::make_unique<vekta::sandbox::Sandbox>(std::move(config))) {
    InstallPersonOnce();
    {
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        p.customBrowser = nullptr;
        p.lastAddress.clear();
        p.prompts = 0;
        p.lastPrompt.reset();
    }
    if (!sandbox_->Start(0)) throw std::runtime_error("the sandbox did not start");
    talnet::http::SetOriginMapping("https://www.tiktok.com", sandbox_->Origin());
    talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox_->Origin());
    const std::uint32_t id = NextInstanceID();
    host::ExportParamHost::Get().ResetInstance(id, host::kDefaultHostGroupID);
    record_ = host::MakeHostInstanceRecord(id, host::kDefaultHostGroupID, host::kBasicSuiteAccessor);
    host::StatusRecorder::Get().SetStatusObserver({});
}

PluginHarness::PluginHarness(const PostProcessCallbacks& linkedTable, vekta::sandbox::SandboxConfig config)
    : PluginHarness(std::move(config)) {
    linkedTable_ = linkedTable;
}

PluginHarness::~PluginHarness() {
    Table().destroyInstance(&record_);
    ThePerson().JoinBrowsers();
    talcore::threads::PumpMainThreadTasks();
    host::ExportParamHost::Get().RemoveInstance(record_.instanceID);
    sandbox_->Stop();
    talnet::http::ClearOriginMappings();
    talcore::threads::PumpMainThreadTasks();
}

const PostProcessCallbacks& PluginHarness::Table() const { return linkedTable_ ? *linkedTable_ : Module().Callbacks(); }

void PluginHarness::CreateAddAndRefresh() {
    ASSERT_EQ(
        Table().createInstance(&record_, &host::StatusRecorder::StatusCallback, &host::StatusRecorder::AccountCallback),
        0);
    ASSERT_EQ(Table().addParameters(&record_), kCallbackDone);
    ASSERT_EQ(Refresh(), 0);
}

bool PluginHarness::SignIn() {
    EXPECT_EQ(Changed("VOXATikTokLogin"), 0);
    ThePerson().JoinBrowsers();
    return HasCredentials();
}

void PluginHarness::SetBrowserAction(std::function<void(const std::string&)> action) {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    p.customBrowser = std::move(action);
}

void PluginHarness::SetInteger(const char* id, std::int32_t value) {
    ASSERT_EQ(Settings().SetValue(InstanceID(), id, host::ParameterValue(value)), 0) << id;
}
void PluginHarness::SetTime(const char* id, std::int64_t value) {
    ASSERT_EQ(Settings().SetValue(InstanceID(), id, host::ParameterValue(value)), 0) << id;
}
void PluginHarness::SetText(const char* id, const std::u16string& text) {
    ASSERT_EQ(Settings().SetValue(InstanceID(), id, host::ParameterValue(text)), 0) << id;
}
host::EntrySnapshot PluginHarness::Entry(const char* id) const {
    const auto entry = host::ExportParamHost::Get().Find(InstanceID(), id);
    if (!entry) throw std::runtime_error(std::string("no parameter ") + id);
    return *entry;
}
std::u16string PluginHarness::ArrayText(const char* id) const {
    const auto bytes = Entry(id).bytes;
    std::u16string text(bytes.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
    if (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}
std::vector<std::u16string> PluginHarness::ChoiceLabels(const char* id) const {
    std::vector<std::u16string> labels;
    for (const auto& choice : Entry(id).choices) labels.push_back(choice.label);
    return labels;
}

std::vector<host::StatusEvent> PluginHarness::StatusEvents() const {
    return host::StatusRecorder::Get().StatusEvents(InstanceID());
}
std::vector<host::AccountEvent> PluginHarness::AccountEvents() const {
    return host::StatusRecorder::Get().AccountEvents(InstanceID());
}

bool PluginHarness::HasCredentials() const {
    std::uint8_t signedIn = 0;
    auto record = record_;
    Table().queryHasCredentials(&record, &signedIn);
    return signedIn != 0;
}

bool PluginHarness::PressPromptCancel() {
    talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox> box;
    {
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        box = p.shownBox;
    }
    if (!box) return false;
    box->PressButton(1);
    return true;
}

std::string PluginHarness::LastOpenedAddress() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.lastAddress;
}
int PluginHarness::PromptsShown() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.prompts;
}

std::optional<PluginHarness::PromptTexts> PluginHarness::LastPrompt() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.lastPrompt;
}

bool PollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::size_t CountRequests(vekta::sandbox::Sandbox& sandbox, const std::string& endpoint) {
    const auto requests = sandbox.Requests();
    return static_cast<std::size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const auto& r) { return r.endpoint == endpoint; }));
}

}  // namespace vekta::test
