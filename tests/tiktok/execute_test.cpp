// Execute's decisions before any upload: which selector publishes, and when a run does nothing.
#include <gtest/gtest.h>

#include "PublishTestSupport.h"
#include "refhost/BasicSuiteHost.h"
#include "refhost/HostRecord.h"

namespace {

using namespace vekta::test;
namespace host = vekta::host;

class Execute : public ::testing::Test {
protected:
    void SetUp() override {
        SignedInForPost(h);
        WriteRandomFile(file, 1000);
        h.SetInteger("VOXATikTokDeleteLocalFile", 1);
        DescribeExport(h, {file});
    }
    // Nothing was reported, nothing was sent, nothing was deleted.
    void ExpectNothingHappened() {
        EXPECT_TRUE(h.StatusEvents().empty());
        EXPECT_TRUE(ChunkRequests(h.Sandbox()).empty());
        EXPECT_TRUE(h.Sandbox().Uploads().empty());
        EXPECT_TRUE(std::filesystem::exists(file));
        EXPECT_EQ(h.Table().queryStatus(&h.Record()), kUploadStateArmed);
    }

    PluginHarness h;
    TempFolder folder;
    std::filesystem::path file = folder / "export.mp4";
};

TEST_F(Execute, SelectorsOtherThanFiveDoNothing) {
    ASSERT_EQ(h.Table().sendCommand(&h.Record(), 3), 0);
    for (const std::int32_t selector : {0, 1, 4, 6, -5, 0x7fffffff}) EXPECT_EQ(h.Table().execute(&h.Record(), selector), 0);
    ExpectNothingHappened();

    // They do not even look for the instance: a record without one answers 0, where 5 answers 1.
    auto stranger = host::MakeHostInstanceRecord(h.InstanceID() + 100000, host::kDefaultHostGroupID,
                                                 host::kBasicSuiteAccessor);
    EXPECT_EQ(h.Table().execute(&stranger, 4), 0);
    EXPECT_EQ(h.Table().execute(&stranger, 5), 1);
}

TEST_F(Execute, ADisabledTikTokGroupPublishesNothing) {
    ASSERT_EQ(h.Table().sendCommand(&h.Record(), 3), 0);
    ASSERT_EQ(h.Settings().SetDisabled(h.InstanceID(), "VOXATikTokGroup", true), 0);
    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);
    ExpectNothingHappened();
}

}  // namespace
