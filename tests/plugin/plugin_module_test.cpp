// The module as the host loads it: what it describes, the table it writes, and an
// instance's life through that table. What it exports is checked by CheckExports.cmake.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "refhost/HostRecord.h"
#include "refhost/PluginModule.h"
#include "refhost/StatusRecorder.h"
#include "talcore/config/Localizer.h"
#include "talcore/threads/MainThread.h"

namespace {

using vekta::host::StatusRecorder;

// Loaded once per process through the system's loader, as the host does.
const vekta::host::PluginModule& LoadedPlugin() {
    static std::unique_ptr<vekta::host::PluginModule> module = [] {
        std::string error;
        auto loaded = vekta::host::PluginModule::Load(VEKTA_PLUGIN_PATH, error);
        if (!loaded) throw std::runtime_error("cannot load the module: " + error);
        return loaded;
    }();
    return *module;
}

TEST(PluginModule, DescribesItself) {
    const auto& module = LoadedPlugin();
    EXPECT_TRUE(module.Warnings().empty()) << module.Warnings().front();
    const auto& d = module.Description();
    EXPECT_EQ(d.version, 1u);
    unsigned char bytes[4];
    std::memcpy(bytes, &d.identifier, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "XRVQ");
    EXPECT_EQ(module.IdentifierText(), "QVRX");
    EXPECT_EQ(module.DisplayName(), "TikTok");

    // A longer name is cut at 255 units with nothing written after.
    for (const std::size_t length : {255u, 256u, 300u}) {
        SCOPED_TRACE(length);
        talcore::config::Localizer::Get().InstallTranslations(
            {{"$$$/Vekta/PostProcess/TikTok/PluginName", std::string(length, 'n')}});
        PostProcessDescription description;
        std::memset(&description, 0xAB, sizeof description);
        PostProcessCallbacks table;
        std::memset(&table, 0, sizeof table);
        EXPECT_EQ(module.Entry()(0, 0, 0, &description, &table), 0);
        for (std::size_t i = 0; i < 255; ++i) ASSERT_EQ(description.displayName[i], u'n') << i;
        EXPECT_EQ(description.displayName[255], 0xABAB) << "no terminator is written";
    }
    talcore::config::Localizer::Get().InstallTranslations({});
}

TEST(PluginModule, CallingTheEntryAgainWritesTheSameTableAndLeavesSlotTwelveToTheHost) {
    const auto& module = LoadedPlugin();
    PostProcessDescription description{};
    PostProcessCallbacks table;
    std::memset(&table, 0, sizeof table);
    table.hostSlot12 = &table;
    module.Entry()(1, 2, 3, &description, &table);
    EXPECT_EQ(std::memcmp(&table, &module.Callbacks(), 12 * sizeof(void*)), 0);
    EXPECT_EQ(table.receiveVideoInfo, module.Callbacks().receiveVideoInfo);
    EXPECT_EQ(table.hostSlot12, &table);
}

class InstanceLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        static std::uint32_t next = 500;
        record_ = vekta::host::MakeHostInstanceRecord(++next, "HostExportGroup", nullptr);
        ASSERT_EQ(table_.createInstance(&record_, &StatusRecorder::StatusCallback, &StatusRecorder::AccountCallback),
                  0);
    }
    void TearDown() override {
        table_.destroyInstance(&record_);
        talcore::threads::PumpMainThreadTasks();
    }

    const PostProcessCallbacks& table_ = LoadedPlugin().Callbacks();
    HostInstanceRecord record_{};
};

TEST_F(InstanceLifecycle, CreateCommandsAndDestroy) {
    EXPECT_NE(vekta::host::ReadPluginPrivate(record_), 0u);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateIdle);
    std::uint8_t signedIn = 7;
    EXPECT_EQ(table_.queryHasCredentials(&record_, &signedIn), kCallbackDone);
    EXPECT_EQ(signedIn, 0);

    EXPECT_EQ(table_.sendCommand(&record_, kSendCommandArm), kCallbackDone);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateArmed);
    for (const std::uint32_t ignored : {0u, 2u, 5u, 0xFFFFFFFFu})
        EXPECT_EQ(table_.sendCommand(&record_, ignored), kCallbackDone);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateArmed);
    EXPECT_EQ(table_.sendCommand(&record_, kSendCommandIdle), kCallbackDone);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateIdle);

    EXPECT_EQ(table_.destroyInstance(&record_), kCallbackDone);
    talcore::threads::PumpMainThreadTasks();
    signedIn = 7;
    EXPECT_EQ(table_.queryHasCredentials(&record_, &signedIn), kCallbackFailed);
    EXPECT_EQ(signedIn, 0);
    EXPECT_EQ(table_.queryStatus(&record_), kCallbackFailed);
    EXPECT_EQ(table_.sendCommand(&record_, kSendCommandArm), kCallbackFailed);
    EXPECT_EQ(table_.receiveOutputFiles(&record_, 0, 0, 0, nullptr), kCallbackFailed);
    EXPECT_EQ(table_.destroyInstance(&record_), kCallbackDone) << "destroying twice is harmless";
}

TEST_F(InstanceLifecycle, LookupsOnOtherThreadsRaceSafelyWithDestroy) {
    std::atomic<bool> stop{false};
    std::atomic<int> found{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 3; ++t) {
        hosts.emplace_back([&] {
            HostInstanceRecord copy = record_;
            while (!stop) {
                if (table_.queryStatus(&copy) == kUploadStateIdle) ++found;
                std::uint8_t signedIn = 0;
                table_.queryHasCredentials(&copy, &signedIn);
            }
        });
    }
    while (found.load() < 100) std::this_thread::yield();
    EXPECT_EQ(table_.destroyInstance(&record_), kCallbackDone);
    // Lookups still running may hold the last reference; the object then dies on the main thread.
    stop = true;
    for (auto& h : hosts) h.join();
    talcore::threads::PumpMainThreadTasks();
    EXPECT_EQ(table_.queryStatus(&record_), kCallbackFailed);
}

}  // namespace
