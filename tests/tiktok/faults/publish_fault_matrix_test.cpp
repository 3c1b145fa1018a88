// The requests of a publish run meeting every fault: the refresh of the access token, the profile
// link, the upload initialisation (post and inbox) and the chunk PUT. Each row publishes once and
// checks how the job ended (Execute's result, the status callback's states, the last code and
// text), that the busy flag is clear, whether the account is still signed in, and what TikTok
// received; a one-time fault is followed by a publish that succeeds.
#include "tests/tiktok/faults/FaultMatrix.h"

namespace {

using namespace vekta::test;
using namespace vekta::test::faults;

// How the job ends when the fault hits its call.
enum class Ends {
    Refused,             // refused before the transfer; still signed in
    SignedOut,           // refused before the transfer; TikTok ended the sign-in
    WithoutProfileLink,  // succeeds, with no profile link to post
    ChunkFailed,         // the first chunk's answer ends the job (code 19)
    ChunkUnanswered,     // the first chunk counts as unanswered (code 20)
    Continues,           // a 2xx other than the expected one: the chain goes on and succeeds
    SecondChunkRefused,  // the first chunk counts as answered but TikTok never took it: the second is refused
};

struct PublishRow {
    std::string name;
    Endpoint endpoint;  // the request the fault hits
    Fault fault;
    Ends ends;
    bool retried = false;  // a one-time fault: the next publish must succeed in full
};
// A row as ctest and GoogleTest name it, rather than as its bytes.
void PrintTo(const PublishRow& row, std::ostream* out) { *out << row.name; }

const std::string kUserInfoWithoutLink = R"({"data":{"user":{"open_id":"x"}},"error":{"code":"ok","message":""}})";
const std::string kUserInfoLinkNotText =
    R"({"data":{"user":{"profile_deep_link":["https://x"]}},"error":{"code":"ok"}})";
const std::string kInitWithoutUrl = R"({"data":{"publish_id":"p.1"},"error":{"code":"ok","message":""}})";
const std::string kInitUrlNotText = R"({"data":{"publish_id":"p.1","upload_url":42},"error":{"code":"ok"}})";

// The faults every JSON request meets; `missing` and `wrongType` are answers of status 200 whose
// field the plug-in needs is absent or of another type, `errorIn200` TikTok's error shape.
std::vector<PublishRow> JsonCallRows(const std::string& call, Endpoint which, const std::string& errorIn200,
                                     const std::string& missing, const std::string& wrongType, Ends failing,
                                     Ends errorEnds) {
    const std::string cut = R"({"data":{"upload_url":"http://127.0.0.1:1/x","user":{"profile_deep_link":"x"}}})";
    std::vector<PublishRow> rows = {
        {"Status201", which, Fault::Rewrite(201), failing},
        {"Status302", which, Fault::Respond(302, kApiError), failing},
        {"Status400", which, Fault::Respond(400, kApiError), failing},
        {"Status401", which, Fault::Respond(401, kApiError), failing},
        {"Status403", which, Fault::Respond(403, kApiError), failing},
        {"Status404", which, Fault::Respond(404, kApiError), failing},
        {"Status429", which, Fault::Respond(429, kApiError), failing},
        {"Status500", which, Fault::Respond(500, kApiError), failing},
        {"Status503", which, Fault::Respond(503, kApiError), failing},
        {"ErrorBodyIn200", which, Fault::Respond(200, errorIn200), errorEnds},
        {"MalformedJson", which, Fault::Respond(200, kMalformedJson), failing},
        {"FieldMissing", which, Fault::Respond(200, missing), failing},
        {"FieldWrongType", which, Fault::Respond(200, wrongType), failing},
        {"EmptyBody", which, Fault::Respond(200, ""), failing},
        {"Silence", which, Fault::Hang(), failing},
        {"Closed", which, Fault::Drop(), failing},
        {"Reset", which, Fault::Reset(), failing},
        {"Truncated", which, Fault::Truncate(200, cut), failing},
        {"OnceThenSuccess", which, Fault::Respond(503, kApiError), failing, true},
    };
    for (auto& row : rows) row.name = call + "_" + row.name;
    return rows;
}

std::vector<PublishRow> AllRows() {
    std::vector<PublishRow> rows;
    const auto add = [&](std::vector<PublishRow> more) { rows.insert(rows.end(), more.begin(), more.end()); };
    // The refresh: only TikTok's error shape in a 200 answer ends the sign-in; every other failure
    // keeps the refresh token for the next try.
    add(JsonCallRows("Refresh", Endpoint::Token, kTokenError, R"({"refresh_token":"rft.kept","open_id":"x"})",
                     R"({"access_token":5,"refresh_token":"rft"})", Ends::Refused, Ends::SignedOut));
    // The profile link is only posted after the upload: without it the upload still succeeds.
    add(JsonCallRows("UserInfo", Endpoint::UserInfo, kApiError, kUserInfoWithoutLink, kUserInfoLinkNotText,
                     Ends::WithoutProfileLink, Ends::WithoutProfileLink));
    add(JsonCallRows("PostInit", Endpoint::DirectPostInit, kApiError, kInitWithoutUrl, kInitUrlNotText, Ends::Refused,
                     Ends::Refused));
    add(JsonCallRows("InboxInit", Endpoint::InboxInit, kApiError, kInitWithoutUrl, kInitUrlNotText, Ends::Refused,
                     Ends::Refused));
    // The chunk PUT, on the first of two chunks. Its answer's body is not read, only its status:
    // malformed, incomplete or empty bodies are the same case as the status they come with, and
    // are left out.
    const std::vector<PublishRow> chunk = {
        {"Chunk_Status200", Endpoint::UploadChunk, Fault::Rewrite(200), Ends::Continues},
        {"Chunk_Status308", Endpoint::UploadChunk, Fault::Respond(308), Ends::ChunkFailed},
        {"Chunk_Status400", Endpoint::UploadChunk, Fault::Respond(400, kApiError), Ends::ChunkFailed},
        {"Chunk_Status401", Endpoint::UploadChunk, Fault::Respond(401, kApiError), Ends::ChunkFailed},
        {"Chunk_Status403", Endpoint::UploadChunk, Fault::Respond(403, kApiError), Ends::ChunkFailed},
        {"Chunk_Status404", Endpoint::UploadChunk, Fault::Respond(404, kApiError), Ends::ChunkFailed},
        {"Chunk_Status416", Endpoint::UploadChunk, Fault::Respond(416, kApiError), Ends::ChunkFailed},
        {"Chunk_Status429", Endpoint::UploadChunk, Fault::Respond(429, kApiError), Ends::ChunkFailed},
        {"Chunk_Status500", Endpoint::UploadChunk, Fault::Respond(500, kApiError), Ends::ChunkFailed},
        {"Chunk_Status503", Endpoint::UploadChunk, Fault::Respond(503, kApiError), Ends::ChunkFailed},
        // A 2xx is taken as the chunk's success, whatever its body says.
        {"Chunk_ErrorBodyIn200", Endpoint::UploadChunk, Fault::Respond(200, kApiError), Ends::SecondChunkRefused},
        {"Chunk_Silence", Endpoint::UploadChunk, Fault::Hang(), Ends::ChunkUnanswered},
        {"Chunk_Closed", Endpoint::UploadChunk, Fault::Drop(), Ends::ChunkUnanswered},
        {"Chunk_Reset", Endpoint::UploadChunk, Fault::Reset(), Ends::ChunkUnanswered},
        {"Chunk_Truncated", Endpoint::UploadChunk, Fault::Truncate(206, kApiError), Ends::ChunkUnanswered},
        {"Chunk_OnceThenSuccess", Endpoint::UploadChunk, Fault::Respond(503, kApiError), Ends::ChunkFailed, true},
    };
    add(chunk);
    return rows;
}

struct Expectation {
    std::int32_t result = 0;
    std::vector<std::uint32_t> states;
    std::uint32_t code = 0;
    Text text = Text::None;
    bool signedIn = true;
    std::vector<std::string> received;
    bool complete = false;  // TikTok holds the whole video
};

// The requests of a publish that meets no fault, in order.
std::vector<std::string> CleanRun(Endpoint faulted) {
    const std::string init = faulted == Endpoint::InboxInit ? "inbox_video_init:200" : "video_init:200";
    if (faulted == Endpoint::UploadChunk) return {"token:200", "user_info:200", init, "upload:206", "upload:201"};
    return {"token:200", "user_info:200", init, "upload:201"};
}

Expectation Expect(const PublishRow& row) {
    Expectation e;
    const std::string faulted = Logged(row.endpoint, row.fault);
    // What TikTok receives up to the faulted request: the clean run's requests before it.
    const auto clean = CleanRun(row.endpoint);
    const std::string endpoint(vekta::sandbox::ToString(row.endpoint));
    std::size_t at = 0;
    while (clean[at].rfind(endpoint + ":", 0) != 0) ++at;
    e.received.assign(clean.begin(), clean.begin() + static_cast<std::ptrdiff_t>(at));
    if (!faulted.empty()) e.received.push_back(faulted);
    const auto rest = [&] {
        e.received.insert(e.received.end(), clean.begin() + static_cast<std::ptrdiff_t>(at) + 1, clean.end());
    };
    switch (row.ends) {
        case Ends::Refused:
        case Ends::SignedOut:
            e.result = 1;
            e.states = {kUploadStateFailed};
            e.code = 19;
            e.text = row.endpoint == Endpoint::Token ? Text::NotSignedIn : Text::NoUploadUrl;
            e.signedIn = row.ends == Ends::Refused;
            break;
        case Ends::WithoutProfileLink:
            e.states = {kUploadStateUploading, kUploadStateSucceeded};
            e.complete = true;
            rest();
            break;
        case Ends::ChunkFailed:
        case Ends::ChunkUnanswered:
            e.states = {kUploadStateUploading, kUploadStateFailed};
            e.code = row.ends == Ends::ChunkFailed ? 19 : 20;
            e.text = row.ends == Ends::ChunkFailed ? Text::Generic : Text::NoAnswer;
            break;
        case Ends::Continues:
            e.states = {kUploadStateUploading, kUploadStateUploading, kUploadStateNotice, kUploadStateSucceeded};
            e.complete = true;
            rest();
            break;
        case Ends::SecondChunkRefused:
            e.states = {kUploadStateUploading, kUploadStateUploading, kUploadStateFailed};
            e.code = 19;
            e.text = Text::Generic;
            e.received.push_back("upload:416");
            break;
    }
    return e;
}

class PublishFaults : public LinkedSignedIn, public ::testing::TestWithParam<PublishRow> {};

TEST_P(PublishFaults, EndTheJobAsPrescribed) {
    const PublishRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(SetUpSignedIn());
    if (row.endpoint == Endpoint::InboxInit) h.SetInteger("VOXATikTokPublishType", 1);
    const std::string sha256 = Export(row.endpoint == Endpoint::UploadChunk ? 12'000'000 : 1000);
    h.Sandbox().Faults().Add(row.endpoint, row.fault);

    const auto run = Publish();
    const Expectation expected = Expect(row);
    ASSERT_NE(run.result, -1) << "the job did not end within " << kJobBound.count() << " s";
    EXPECT_EQ(run.result, expected.result);
    EXPECT_EQ(States(run.events), expected.states);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back().resultCode, expected.code);
    EXPECT_EQ(run.events.back().text, Expected(expected.text, file));
    EXPECT_EQ(h.Table().queryStatus(&h.Record()), expected.states.back());
    EXPECT_FALSE(Busy());
    EXPECT_EQ(h.HasCredentials(), expected.signedIn);
    EXPECT_EQ(run.received, expected.received);
    const auto uploads = h.Sandbox().Uploads();
    const bool complete = !uploads.empty() && uploads.back().complete && uploads.back().sha256Hex == sha256;
    EXPECT_EQ(complete, expected.complete);
    if (row.fault.action == Fault::Action::Hang) {
        // The silent request was given up on, not sent again.
        EXPECT_EQ(h.Sandbox().Faults().Hanging(), 1u);
        h.Sandbox().Faults().ReleaseHangs();
    }

    if (row.retried) {
        const auto again = Publish();
        EXPECT_EQ(again.result, 0);
        ASSERT_FALSE(again.events.empty());
        EXPECT_EQ(again.events.back().state, kUploadStateSucceeded);
        EXPECT_EQ(again.received, CleanRun(row.endpoint));
        EXPECT_TRUE(h.Sandbox().Uploads().back().complete);
        EXPECT_FALSE(Busy());
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, PublishFaults, ::testing::ValuesIn(AllRows()),
                         [](const ::testing::TestParamInfo<PublishRow>& row) { return row.param.name; });

}  // namespace
