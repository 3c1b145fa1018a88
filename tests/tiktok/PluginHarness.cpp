#include "PluginHarness.h"

#include <gtest/gtest.h>

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
    BrowserBehaviour browser = BrowserBehaviour::Authorize;
    PromptBehaviour prompt = PromptBehaviour::Wait;
    std::function<void(const std::string&)> customBrowser;
    std::vector<std::thread> browserThreads;
    std::string lastAddress;
    int addresses = 0;
    int prompts = 0;
    std::u16string title, message, button;
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
        PromptBehaviour behaviour;
        {
            std::lock_guard lock(p.mutex);
            ++p.prompts;
            p.title = box.GetTitle();
            p.message = box.GetMessage();
            p.button = box.GetCaptions()[1];
            p.shownBox = talcore::utility::RefCountedPtr<talui::dialogs::UI_MessageBox>(&box);
            behaviour = p.prompt;
        }
        if (behaviour == PromptBehaviour::CancelAtOnce) box.PressButton(1);
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
    ++p.addresses;
    if (p.customBrowser) {
        p.browserThreads.emplace_back([action = p.customBrowser, address] { action(address); });
        return;
    }
    if (p.browser == BrowserBehaviour::Ignore) return;
    const auto choice = p.browser == BrowserBehaviour::Authorize ? tiktok_sandbox::HeadlessBrowser::Choice::Authorize
                                                                : tiktok_sandbox::HeadlessBrowser::Choice::Cancel;
    p.browserThreads.emplace_back([choice, address] { tiktok_sandbox::HeadlessBrowser(choice).Open(address); });
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

const host::EntrySnapshot Entry(std::uint32_t instanceID, const char* id) {
    const auto entry = host::ExportParamHost::Get().Find(instanceID, id);
    if (!entry) throw std::runtime_error(std::string("no parameter ") + id);
    return *entry;
}

}  // namespace

tiktok_sandbox::SandboxConfig DefaultSandboxConfig() {
    tiktok_sandbox::SandboxConfig config;
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

PluginHarness::PluginHarness(tiktok_sandbox::SandboxConfig config)
    : sandbox_(std::make_unique<tiktok_sandbox::Sandbox>(std::move(config))) {
    InstallPersonOnce();
    {
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        p.browser = BrowserBehaviour::Authorize;
        p.prompt = PromptBehaviour::Wait;
        p.customBrowser = nullptr;
        p.lastAddress.clear();
        p.addresses = 0;
        p.prompts = 0;
    }
    if (!sandbox_->Start(0)) throw std::runtime_error("the sandbox did not start");
    talnet::http::SetOriginMapping("https://www.tiktok.com", sandbox_->Origin());
    talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox_->Origin());
    const std::uint32_t id = NextInstanceID();
    host::ExportParamHost::Get().ResetInstance(id, host::kDefaultHostGroupID);
    record_ = host::MakeHostInstanceRecord(id, host::kDefaultHostGroupID, host::kBasicSuiteAccessor);
    host::StatusRecorder::Get().SetStatusObserver({});
}

PluginHarness::PluginHarness(const PostProcessCallbacks& linkedTable, tiktok_sandbox::SandboxConfig config)
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

const PostProcessCallbacks& PluginHarness::Table() const {
    return linkedTable_ ? *linkedTable_ : Module().Callbacks();
}

void PluginHarness::CreateAddAndRefresh() {
    ASSERT_EQ(Table().createInstance(&record_, &host::StatusRecorder::StatusCallback,
                                     &host::StatusRecorder::AccountCallback),
              0);
    ASSERT_EQ(Table().addParameters(&record_), 0);
    ASSERT_EQ(Refresh(), 0);
}

std::int32_t PluginHarness::Refresh() { return Table().refreshParameters(&record_); }

std::int32_t PluginHarness::Changed(const char* parameterID) { return Table().parameterChanged(&record_, parameterID); }

bool PluginHarness::SignIn(BrowserBehaviour behaviour, PromptBehaviour prompt) {
    {
        auto& p = ThePerson();
        std::lock_guard lock(p.mutex);
        p.browser = behaviour;
        p.prompt = prompt;
    }
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
std::int32_t PluginHarness::Integer(const char* id) const { return Entry(InstanceID(), id).value.intValue; }
std::int64_t PluginHarness::Time(const char* id) const { return Entry(InstanceID(), id).value.timeValue; }
std::u16string PluginHarness::Text(const char* id) const { return Entry(InstanceID(), id).text; }
std::u16string PluginHarness::ArrayText(const char* id) const {
    const auto bytes = Entry(InstanceID(), id).bytes;
    std::u16string text(bytes.size() / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), bytes.data(), text.size() * 2);
    if (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}
bool PluginHarness::Disabled(const char* id) const { return Entry(InstanceID(), id).disabled; }
bool PluginHarness::Hidden(const char* id) const { return Entry(InstanceID(), id).hidden; }
std::u16string PluginHarness::Name(const char* id) const { return Entry(InstanceID(), id).name; }
std::vector<std::u16string> PluginHarness::ChoiceLabels(const char* id) const {
    std::vector<std::u16string> labels;
    for (const auto& choice : Entry(InstanceID(), id).choices) labels.push_back(choice.label);
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
int PluginHarness::OpenedAddressCount() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.addresses;
}
int PluginHarness::PromptsShown() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.prompts;
}
std::u16string PluginHarness::LastPromptTitle() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.title;
}
std::u16string PluginHarness::LastPromptMessage() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.message;
}
std::u16string PluginHarness::LastPromptButton() const {
    auto& p = ThePerson();
    std::lock_guard lock(p.mutex);
    return p.button;
}

}  // namespace vekta::test
