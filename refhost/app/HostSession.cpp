#include "HostSession.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "BuiltInSandbox.h"
#include "HostSystem.h"
#include "ProgressView.h"
#include "TerminalPrompt.h"
#include "VideoProbe.h"
#include "refhost/BasicSuiteHost.h"
#include "refhost/ExportParamHost.h"
#include "refhost/HostRecord.h"
#include "refhost/PresetFile.h"
#include "refhost/SettingsTable.h"
#include "refhost/StatusRecorder.h"
#include "refhost/VideoInfoOption.h"
#include "talcore/debug/Trace.h"
#include "talcore/string/Unicode.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/OpenFileInDefaultApplication.h"
#include "talnet/http/OriginMap.h"
#include "talui/MessageBox.h"

namespace vekta::host {
namespace {

constexpr std::uint32_t kInstanceID = 1;
constexpr const char* kTikTokGroup = "VOXATikTokGroup";

// Writes the preset file (an instance's settings, or settings given), creating its folder; false,
// with the reason on standard error, when it cannot be written.
template <typename Source>
bool WritePresetFile(const std::string& presetPath, const Source& source) {
    const auto path = PathFromUTF8(presetPath);
    std::error_code ignored;
    if (!path.parent_path().empty()) std::filesystem::create_directories(path.parent_path(), ignored);
    const auto saved = SavePreset(path, source);
    if (!saved.ok) std::fprintf(stderr, "vekta-host: cannot save the preset: %s\n", saved.error.c_str());
    return saved.ok;
}
constexpr const char* kTicksPerFrame = "VOXAHiddenTicksPerFrame";
constexpr const char* kRefreshTokenHandOver = "VOXATikTokRefreshToken";
constexpr double kTicksPerSecond = 254016000000.0;

const std::vector<std::pair<std::string, std::int32_t>>& PrivacyChoices() {
    static const std::vector<std::pair<std::string, std::int32_t>> choices = {
        {"everyone", 0}, {"followers", 1}, {"friends", 2}, {"private", 3}};
    return choices;
}

}  // namespace

HostSession::HostSession() = default;

HostSession::~HostSession() {
    if (module_ && instanceCreated_) module_->Callbacks().destroyInstance(&record_);
    JoinBrowsers();
    talcore::utility::SetOpenFileFallback(nullptr);
    talcore::threads::PumpMainThreadTasks();
    talui::dialogs::SetMessageBoxPresenter(nullptr);
    if (sandbox_) sandbox_->Stop();
    talcore::threads::PumpMainThreadTasks();
}

void HostSession::JoinBrowsers() {
    if (sandbox_) sandbox_->JoinSignIns();
}

bool HostSession::Open(const GlobalOptions& options, std::string& error) {
    options_ = options;
    if (options_.presetPath.empty()) options_.presetPath = PathToUTF8(DefaultPresetPath());
    if (!options_.trace.empty()) talcore::debug::SetTraceConfig(options_.trace);
    for (const auto& refused : talnet::http::RefusedOriginMappings()) {
        error += (error.empty() ? "" : "\nvekta-host: ") + std::string("VEKTA_HOST_ORIGIN_MAP entry ") + refused;
    }
    if (!error.empty()) return false;

    if (options_.sandbox) {
        sandbox_ = BuiltInSandbox::Start(error);
        if (!sandbox_) return false;
        talnet::http::SetOriginMapping("https://www.tiktok.com", sandbox_->Origin());
        talnet::http::SetOriginMapping("https://open.tiktokapis.com", sandbox_->Origin());
        std::printf("TikTok sandbox running at %s\n", sandbox_->Origin().c_str());
    }
    for (const auto& [from, to] : options_.originMaps) {
        std::string problem;
        if (!talnet::http::SetOriginMapping(from, to, &problem)) {
            error = "--origin-map '" + from + "=" + to + "': " + problem;
            return false;
        }
    }
    // Whoever runs this should know that TikTok's traffic, tokens included, goes elsewhere.
    if (const auto mappings = talnet::http::ActiveOriginMappings(); !mappings.empty()) {
        std::string list;
        for (const auto& [from, to] : mappings) list += (list.empty() ? "" : ", ") + from + " -> " + to;
        std::fprintf(stderr, "vekta-host: origin map in force: %s\n", list.c_str());
    }

    // Cleared before the sandbox goes (see the destructor).
    talcore::utility::SetOpenFileFallback([sandbox = sandbox_.get()](const std::string& address) {
        if (sandbox) {
            std::printf("No web browser could be started; signing in without one against the sandbox.\n");
            std::fflush(stdout);
            sandbox->SignInHeadless(address);
            return;
        }
        std::printf("No web browser could be started. Open this address in a browser to sign in:\n  %s\n",
                    address.c_str());
        std::fflush(stdout);
    });
    static TerminalPrompt prompt(std::chrono::seconds(310));
    talui::dialogs::SetMessageBoxPresenter(&prompt);

    module_ = PluginModule::Load(options_.pluginPath, error);
    if (!module_) return false;
    for (const auto& warning : module_->Warnings()) std::fprintf(stderr, "vekta-host: warning: %s\n", warning.c_str());

    auto& settings = ExportParamHost::Get();
    settings.ResetInstance(kInstanceID, kDefaultHostGroupID);
    record_ = MakeHostInstanceRecord(kInstanceID, kDefaultHostGroupID, kBasicSuiteAccessor);
    // The host's own hidden parameter: ticks per frame of the export (30 fps until a file says otherwise).
    ParamInfo ticks;
    std::memset(&ticks, 0, sizeof ticks);
    ticks.structVersion = kParamStructVersion;
    ticks.value.structVersion = kParamStructVersion;
    std::strncpy(ticks.identifier, kTicksPerFrame, sizeof ticks.identifier - 1);
    ticks.type = kParamTypeHiddenInt64;
    ticks.value.value.timeValue = static_cast<std::int64_t>(kTicksPerSecond / 30.0);
    ticks.value.hidden = 1;
    ExportParamHost::Suite()->AddParameter(kInstanceID, kParamGroupIndex, kDefaultHostGroupID, &ticks);

    const auto& table = module_->Callbacks();
    if (table.createInstance(&record_, &StatusRecorder::StatusCallback, &StatusRecorder::AccountCallback) !=
        kCallbackDone) {
        error = "the plug-in did not create an instance";
        return false;
    }
    instanceCreated_ = true;
    if (table.addParameters(&record_) != kCallbackDone) {
        error = "the plug-in could not add its settings";
        return false;
    }
    if (std::filesystem::exists(PathFromUTF8(options_.presetPath))) {
        const auto loaded = LoadPreset(PathFromUTF8(options_.presetPath), kInstanceID);
        if (!loaded.ok) {
            error = "the preset " + options_.presetPath + " cannot be used: " + loaded.error;
            return false;
        }
    }
    if (table.refreshParameters(&record_) != kCallbackDone) {
        error = "the plug-in could not refresh its settings";
        return false;
    }
    presetSettings_ = ExportParamHost::Get().ReadSettings(kInstanceID);
    NoteHandOver();
    return true;
}

void HostSession::NoteHandOver() {
    const auto entry = ExportParamHost::Get().Find(kInstanceID, kRefreshTokenHandOver);
    if (entry && !entry->bytes.empty()) handOver_ = entry->bytes;
}

void HostSession::KeepHandOver() {
    if (handOver_.empty() || !presetSettings_) return;
    InstanceSettings settings = *presetSettings_;
    auto& parameters = settings.parameters;
    const auto it = std::find_if(parameters.begin(), parameters.end(),
                                 [](const ParameterSetting& p) { return p.id == kRefreshTokenHandOver; });
    if (it != parameters.end()) {
        it->value = handOver_;
    } else {
        parameters.push_back({kRefreshTokenHandOver, kParamTypeByteArray, handOver_});
    }
    if (!WritePresetFile(options_.presetPath, settings)) return;
    presetSettings_ = std::move(settings);
    handOver_.clear();
}

bool HostSession::HasCredentials() {
    std::uint8_t signedIn = 0;
    module_->Callbacks().queryHasCredentials(&record_, &signedIn);
    return signedIn != 0;
}

std::string HostSession::StatusLine() {
    const auto entry = ExportParamHost::Get().Find(kInstanceID, "VOXATikTokStatusText");
    if (!entry || entry->choices.empty()) return {};
    return talcore::string::UTF16to8(entry->choices.front().label);
}

bool HostSession::SavePresetFile() {
    if (!WritePresetFile(options_.presetPath, kInstanceID)) return false;
    presetSettings_ = ExportParamHost::Get().ReadSettings(kInstanceID);
    handOver_.clear();
    return true;
}

void HostSession::SetValue(const char* id, std::int32_t value) {
    ExportParamHost::Get().SetValue(kInstanceID, id, ParameterValue(value));
}

int HostSession::ShowSettings(bool all) {
    SettingsTableOptions table;
    table.showHidden = all;
    std::fputs(FormatSettingsTable(kInstanceID, kTikTokGroup, table).c_str(), stdout);
    return 0;
}

int HostSession::SignIn() {
    if (HasCredentials()) {
        std::printf("%s\n", StatusLine().c_str());
        return 0;
    }
    if (!SignInIfNeeded()) return 1;
    return 0;
}

bool HostSession::SignInIfNeeded() {
    if (HasCredentials()) return true;
    InterruptRequested() = false;
    module_->Callbacks().parameterChanged(&record_, "VOXATikTokLogin");
    JoinBrowsers();
    const bool signedIn = HasCredentials();
    std::printf("%s\n", StatusLine().c_str());
    if (!signedIn) {
        std::fprintf(stderr, "vekta-host: not signed in\n");
        return false;
    }
    // The sign-in left the refresh token in the settings; the preset keeps it for the next run.
    SavePresetFile();
    return true;
}

int HostSession::SignOut() {
    if (HasCredentials()) module_->Callbacks().parameterChanged(&record_, "VOXATikTokLogin");
    std::printf("%s\n", StatusLine().c_str());
    return SavePresetFile() ? 0 : 1;
}

int HostSession::Publish(const PublishOptions& options) {
    const std::filesystem::path file = PathFromUTF8(options.file);
    auto info = ReadVideoInfo(options);
    if (!info || !SignInIfNeeded()) return 1;
    if (const int refused = ApplyPublishOptions(options, *info); refused != 0) return refused;
    std::printf("\nTikTok export settings:\n");
    ShowSettings(false);
    std::printf("\n");

    if (!HandOverExport(file, *info)) return 1;
    RunExport(file, options.draft);

    const auto& table = module_->Callbacks();
    const std::int32_t state = table.queryStatus(&record_);
    std::printf("Result: %s\n", StateName(static_cast<std::uint32_t>(state)));
    return state == kUploadStateSucceeded || state == kUploadStateSucceededWithNotice ? 0 : 1;
}

std::optional<ExportVideoInfo> HostSession::ReadVideoInfo(const PublishOptions& options) {
    const std::filesystem::path file = PathFromUTF8(options.file);
    ExportVideoInfo info{};
    std::string source = "as given by --video-info";
    if (options.videoFacts) {
        info = MakeExportVideoInfo(*options.videoFacts, FileTypeForName(file));
    } else {
        std::string error;
        const auto probed = ProbeVideo(file, error);
        if (!probed) {
            std::fprintf(stderr, "vekta-host: %s\n", error.c_str());
            return std::nullopt;
        }
        info = probed->info;
        source = probed->container + ", " + probed->codec;
    }
    std::printf("Video: %s (%s), %ux%u, %.3f fps, %.1f s\n", options.file.c_str(), source.c_str(),
                static_cast<unsigned>(info.frameWidth), static_cast<unsigned>(info.frameHeight),
                static_cast<double>(info.frameRate), static_cast<double>(info.durationMs) / 1000.0);
    return info;
}

int HostSession::ApplyPublishOptions(const PublishOptions& options, const ExportVideoInfo& info) {
    const auto& table = module_->Callbacks();
    SetValue("VOXATikTokPublishType", options.draft ? 1 : 0);
    table.parameterChanged(&record_, "VOXATikTokPublishType");
    if (options.captionGiven) {
        ExportParamHost::Get().SetValue(kInstanceID, "VOXATikTokCaption",
                                        ParameterValue(talcore::string::UTF8to16(options.caption)));
        table.parameterChanged(&record_, "VOXATikTokCaption");
    }
    if (!options.privacy.empty()) {
        std::int32_t position = -1;
        for (const auto& [name, value] : PrivacyChoices())
            if (name == options.privacy) position = value;
        const auto entry = ExportParamHost::Get().Find(kInstanceID, "VOXATikTokPrivacy");
        bool offered = false;
        std::string offeredLabels;
        for (const auto& choice : entry ? entry->choices : std::vector<Choice>{}) {
            offered = offered || choice.value.intValue == position;
            offeredLabels += (offeredLabels.empty() ? "" : ", ") + talcore::string::UTF16to8(choice.label);
        }
        if (!offered) {
            std::fprintf(stderr, "vekta-host: privacy '%s' is not offered for this account (offered: %s)\n",
                         options.privacy.c_str(), offeredLabels.c_str());
            return 2;
        }
        SetValue("VOXATikTokPrivacy", position);
        table.parameterChanged(&record_, "VOXATikTokPrivacy");
    }
    SetValue("VOXATikTokCommentPermission", options.allowComment ? 1 : 0);
    SetValue("VOXATikTokDuetPermission", options.allowDuet ? 1 : 0);
    SetValue("VOXATikTokStitchPermission", options.allowStitch ? 1 : 0);
    SetValue("VOXATikTokDeleteLocalFile", options.deleteLocalFile ? 1 : 0);
    if (info.frameRate > 0.0f) {
        ExportParamHost::Get().SetValue(kInstanceID, kTicksPerFrame,
                                        ParameterValue(static_cast<std::int64_t>(
                                            std::llround(kTicksPerSecond / static_cast<double>(info.frameRate)))));
    }
    if (options.coverGiven) {
        const double ticks = static_cast<double>(options.coverMs) * (kTicksPerSecond / 1000.0);
        ExportParamHost::Get().SetValue(kInstanceID, "VOXATikTokCoverImageThumbnailTimeToken",
                                        ParameterValue(static_cast<std::int64_t>(ticks)));
        table.parameterChanged(&record_, "VOXATikTokCoverImageThumbnailTimeBtn");
    }

    return 0;
}

bool HostSession::HandOverExport(const std::filesystem::path& file, ExportVideoInfo& info) {
    const auto& table = module_->Callbacks();
    std::error_code absoluteError;
    const std::u16string path = std::filesystem::absolute(file, absoluteError).u16string();
    OutputFileEntry entry{};
    const char16_t* pathPointer = path.c_str();
    std::memcpy(reinterpret_cast<std::uint8_t*>(&entry) + offsetof(OutputFileEntry, path), &pathPointer,
                sizeof pathPointer);
    table.checkOutputFormat(&record_, &info);
    // The plug-in hides its group for a format it does not take, as the host would show it.
    table.refreshParameters(&record_);
    NoteHandOver();
    if (const auto group = ExportParamHost::Get().Find(kInstanceID, kTikTokGroup); group && group->hidden) {
        const std::uint32_t code = info.fileType;
        const char fourcc[5] = {static_cast<char>(code >> 24), static_cast<char>(code >> 16),
                                static_cast<char>(code >> 8), static_cast<char>(code), '\0'};
        std::fprintf(stderr,
                     "vekta-host: the TikTok plug-in does not take this file's format ('%s'); export H.264, HEVC or "
                     "MPEG-4 video in MP4, or a QuickTime movie\n",
                     fourcc);
        return false;
    }
    table.receiveVideoInfo(&record_, &info);
    table.receiveOutputFiles(&record_, 0, 0, 1, &entry);
    table.sendCommand(&record_, kSendCommandArm);

    return true;
}

void HostSession::RunExport(const std::filesystem::path& file, bool draft) {
    const auto& table = module_->Callbacks();
    std::error_code sizeError;
    const auto fileSize = std::filesystem::file_size(file, sizeError);
    ProgressView view(sizeError ? 0 : static_cast<std::uint64_t>(fileSize), StdoutIsTerminal());
    StatusRecorder::Get().SetStatusObserver([&view](const StatusEvent& event) { view.Show(event); });
    std::printf("Publishing as %s...\n", draft ? "a draft" : "a post");
    std::fflush(stdout);

    // The export thread runs the upload; the main thread stays free for its tasks and for Ctrl-C.
    std::atomic<bool> done{false};
    InterruptRequested() = false;
    std::thread exporter([&] {
        table.execute(&record_, kExecuteSelectorPublish);
        done = true;
        talcore::threads::WakeMainThread();
    });
    bool abortSent = false;
    while (!done) {
        talcore::threads::PumpMainThreadTasksUntil(
            [&] { return done.load() || (!abortSent && InterruptRequested().load()); },
            std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
        if (!abortSent && InterruptRequested().load()) {
            abortSent = true;
            view.Finish();
            std::printf("Aborting...\n");
            std::fflush(stdout);
            table.sendCommand(&record_, kSendCommandAbort);
        }
    }
    exporter.join();
    NoteHandOver();
    StatusRecorder::Get().SetStatusObserver({});
    view.Finish();
}

}  // namespace vekta::host
