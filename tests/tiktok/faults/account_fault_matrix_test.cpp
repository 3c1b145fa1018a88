// The creator-info query of a settings refresh meeting every fault. The creator has been renamed at
// TikTok meanwhile, so an answer that is taken in shows; a failed query leaves every fact as the last
// good answer left it, the account signed in, and the refresh answered.
#include "tests/tiktok/faults/FaultMatrix.h"

namespace {

using namespace vekta::test;
using namespace vekta::test::faults;

struct CreatorInfoRow {
    std::string name;
    Fault fault;
    bool retried = false;  // a one-time fault: the next refresh takes the new facts in
};
// A row as ctest and GoogleTest name it, rather than as its bytes.
void PrintTo(const CreatorInfoRow& row, std::ostream* out) { *out << row.name; }

std::vector<CreatorInfoRow> Rows() {
    const std::string cut = R"({"data":{"creator_nickname":"Renamed Creator","comment_disabled":true}})";
    return {
        {"CreatorInfo_Status201", Fault::Rewrite(201)},
        {"CreatorInfo_Status302", Fault::Respond(302, kApiError)},
        {"CreatorInfo_Status400", Fault::Respond(400, kApiError)},
        {"CreatorInfo_Status401", Fault::Respond(401, kApiError)},
        {"CreatorInfo_Status403", Fault::Respond(403, kApiError)},
        {"CreatorInfo_Status404", Fault::Respond(404, kApiError)},
        {"CreatorInfo_Status429", Fault::Respond(429, kApiError)},
        {"CreatorInfo_Status500", Fault::Respond(500, kApiError)},
        {"CreatorInfo_Status503", Fault::Respond(503, kApiError)},
        {"CreatorInfo_ErrorBodyIn200", Fault::Respond(200, kApiError)},
        {"CreatorInfo_MalformedJson", Fault::Respond(200, R"({"data":{"creator_nickname":"Renamed Creator",)")},
        {"CreatorInfo_FieldMissing", Fault::Respond(200, R"({"data":{"max_video_post_duration_sec":600}})")},
        {"CreatorInfo_FieldWrongType", Fault::Respond(200, R"({"data":{"creator_nickname":{"text":"Renamed"}}})")},
        {"CreatorInfo_EmptyBody", Fault::Respond(200, "")},
        {"CreatorInfo_Silence", Fault::Hang()},
        {"CreatorInfo_Closed", Fault::Drop()},
        {"CreatorInfo_Reset", Fault::Reset()},
        {"CreatorInfo_Truncated", Fault::Truncate(200, cut)},
        {"CreatorInfo_OnceThenSuccess", Fault::Respond(503, kApiError), true},
    };
}

class CreatorInfoFaults : public LinkedSignedIn, public ::testing::TestWithParam<CreatorInfoRow> {
protected:
    std::vector<std::u16string> StatusLine() const { return h.ChoiceLabels("VOXATikTokStatusText"); }
};

TEST_P(CreatorInfoFaults, LeaveTheLastGoodFactsAndTheSignIn) {
    const CreatorInfoRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(SetUpSignedIn());
    ASSERT_EQ(StatusLine(), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
    auto creator = h.Sandbox().Config().creator;
    creator.nickname = "Renamed Creator";
    h.Sandbox().SetCreator(creator);
    h.Sandbox().ClearRequests();
    h.Sandbox().Faults().Add(Endpoint::CreatorInfo, row.fault);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(h.Refresh(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, kJobBound);

    EXPECT_EQ(StatusLine(), std::vector<std::u16string>{u"Signed in as Sandbox Creator"});
    EXPECT_TRUE(h.HasCredentials());
    EXPECT_EQ(h.Name("VOXATikTokLogin"), u"Sign Out");
    std::vector<std::string> expected{"token:200"};
    if (const std::string logged = Logged(Endpoint::CreatorInfo, row.fault); !logged.empty())
        expected.push_back(logged);
    EXPECT_EQ(Received(h.Sandbox()), expected);
    if (row.fault.action == Fault::Action::Hang) {
        EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
        h.Sandbox().Faults().ReleaseHangs();
    }

    if (row.retried) {
        h.Sandbox().ClearRequests();
        EXPECT_EQ(h.Refresh(), 0);
        EXPECT_EQ(StatusLine(), std::vector<std::u16string>{u"Signed in as Renamed Creator"});
        EXPECT_EQ(Received(h.Sandbox()), (std::vector<std::string>{"token:200", "creator_info:200"}));
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, CreatorInfoFaults, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<CreatorInfoRow>& row) { return row.param.name; });

}  // namespace
