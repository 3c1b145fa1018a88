#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "LoadedPlugin.h"
#include "refhost/HostRecord.h"
#include "refhost/StatusRecorder.h"
#include "talcore/threads/MainThread.h"

namespace {

using vekta::host::MakeHostInstanceRecord;
using vekta::host::StatusRecorder;
using vekta::test::LoadedPlugin;

class InstanceLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        static std::uint32_t next = 500;
        record_ = MakeHostInstanceRecord(++next, "HostExportGroup", nullptr);
    }
    void TearDown() override {
        table_.destroyInstance(&record_);
        talcore::threads::PumpMainThreadTasks();
    }
    void Create() {
        ASSERT_EQ(table_.createInstance(&record_, &StatusRecorder::StatusCallback, &StatusRecorder::AccountCallback), 0);
    }

    const PostProcessCallbacks& table_ = LoadedPlugin().Callbacks();
    HostInstanceRecord record_{};
};

TEST_F(InstanceLifecycle, CreateStoresAKeyThatLaterCallbacksResolve) {
    Create();
    EXPECT_NE(vekta::host::ReadPluginPrivate(record_), 0u);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateIdle);
    std::uint8_t signedIn = 7;
    EXPECT_EQ(table_.queryHasCredentials(&record_, &signedIn), 0);
    EXPECT_EQ(signedIn, 0);
}

TEST_F(InstanceLifecycle, CommandsArmAndIdleTheInstanceAndUnknownOnesChangeNothing) {
    Create();
    EXPECT_EQ(table_.sendCommand(&record_, 3), 0);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateArmed);
    for (const std::uint32_t ignored : {0u, 2u, 5u, 0xFFFFFFFFu}) {
        EXPECT_EQ(table_.sendCommand(&record_, ignored), 0);
        EXPECT_EQ(table_.queryStatus(&record_), kUploadStateArmed) << ignored;
    }
    EXPECT_EQ(table_.sendCommand(&record_, 4), 0);
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateIdle);
    EXPECT_EQ(table_.sendCommand(&record_, 1), 0) << "abort with nothing running";
    EXPECT_EQ(table_.queryStatus(&record_), kUploadStateIdle);
}

TEST_F(InstanceLifecycle, AfterDestroyEveryCallbackFindsNoInstance) {
    Create();
    EXPECT_EQ(table_.destroyInstance(&record_), 0);
    talcore::threads::PumpMainThreadTasks();
    std::uint8_t signedIn = 7;
    EXPECT_EQ(table_.queryHasCredentials(&record_, &signedIn), 1);
    EXPECT_EQ(signedIn, 0);
    EXPECT_EQ(table_.queryStatus(&record_), 1);
    EXPECT_EQ(table_.sendCommand(&record_, 3), 1);
    EXPECT_EQ(table_.receiveOutputFiles(&record_, 0, 0, 0, nullptr), 1);
    ExportVideoInfo format{};
    EXPECT_EQ(table_.checkOutputFormat(&record_, &format), 1);
    EXPECT_EQ(table_.destroyInstance(&record_), 0) << "destroying twice is harmless";
}

TEST_F(InstanceLifecycle, ZeroStaleAndForeignKeysFindNoInstance) {
    for (const std::uint64_t key : {std::uint64_t{0}, std::uint64_t{1}, ~std::uint64_t{0}, std::uint64_t{0x5EED000000000001}}) {
        std::memcpy(reinterpret_cast<std::uint8_t*>(&record_) + offsetof(HostInstanceRecord, pluginPrivate), &key,
                    sizeof key);
        std::uint8_t signedIn = 7;
        EXPECT_EQ(table_.queryHasCredentials(&record_, &signedIn), 1) << key;
        EXPECT_EQ(signedIn, 0);
        EXPECT_EQ(table_.queryStatus(&record_), 1);
    }
}

TEST_F(InstanceLifecycle, NullPointersFromTheHostAreSurvived) {
    EXPECT_EQ(table_.createInstance(&record_, nullptr, nullptr), 0);
    EXPECT_EQ(table_.queryHasCredentials(&record_, nullptr), 0);
    EXPECT_EQ(table_.queryStatus(nullptr), 1);
    EXPECT_EQ(table_.checkOutputFormat(&record_, nullptr), 0);
    EXPECT_EQ(table_.receiveOutputFiles(&record_, 0, 0, 3, nullptr), 0);
    EXPECT_EQ(table_.noOperation(nullptr), 0);
}

TEST_F(InstanceLifecycle, LookupsOnOtherThreadsRaceSafelyWithDestroy) {
    Create();
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
    EXPECT_EQ(table_.destroyInstance(&record_), 0);
    // Lookups still running may hold the last reference; the object then dies on the main thread.
    stop = true;
    for (auto& h : hosts) h.join();
    talcore::threads::PumpMainThreadTasks();
    EXPECT_EQ(table_.queryStatus(&record_), 1);
}

}  // namespace
