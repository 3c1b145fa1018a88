// The exported file meeting every fault at each stage of a post: before the checks, between the
// upload initialisation and the first chunk, and between the two chunks. The job reads the file
// through the one handle it opens as it starts: what the path names afterwards does not change what
// is sent, while a handle whose size no longer matches what TikTok was told ends the job before a
// byte that does not belong goes out.
#include "tests/tiktok/faults/FaultMatrix.h"

namespace {

using namespace vekta::test;
using namespace vekta::test::faults;

enum class Stage { BeforeChecks, AfterInit, BetweenChunks };
enum class FileFault { Removed, Cut, Emptied, Grown, Replaced, Unreadable, Folder };

// How the job ends.
enum class Ends {
    Sent,          // the upload succeeds with the bytes named in `sends`
    Missing,       // refused: no file (code 9)
    NotOpened,     // refused: the file cannot be opened (code 21)
    NotReadWhole,  // the transfer stops: the file no longer holds what TikTok was told (code 21)
};
// Which bytes a successful upload carries.
enum class Sends { None, Original, AsChanged };

struct FileRow {
    std::string name;
    FileFault fault;
    Stage stage;
    Ends ends;
    Sends sends = Sends::None;
};
// A row as ctest and GoogleTest name it, rather than as its bytes.
void PrintTo(const FileRow& row, std::ostream* out) { *out << row.name; }

constexpr std::uint64_t kSize = 12'000'000;  // two chunks

std::vector<FileRow> Rows() {
    return {
        {"Removed_BeforeChecks", FileFault::Removed, Stage::BeforeChecks, Ends::Missing},
        {"Removed_AfterInit", FileFault::Removed, Stage::AfterInit, Ends::Sent, Sends::Original},
        {"Removed_BetweenChunks", FileFault::Removed, Stage::BetweenChunks, Ends::Sent, Sends::Original},
        // A file cut or grown before the job starts is simply the export the job finds.
        {"Cut_BeforeChecks", FileFault::Cut, Stage::BeforeChecks, Ends::Sent, Sends::AsChanged},
        {"Cut_AfterInit", FileFault::Cut, Stage::AfterInit, Ends::NotReadWhole},
        {"Cut_BetweenChunks", FileFault::Cut, Stage::BetweenChunks, Ends::NotReadWhole},
        {"Emptied_BetweenChunks", FileFault::Emptied, Stage::BetweenChunks, Ends::NotReadWhole},
        {"Grown_BeforeChecks", FileFault::Grown, Stage::BeforeChecks, Ends::Sent, Sends::AsChanged},
        {"Grown_AfterInit", FileFault::Grown, Stage::AfterInit, Ends::NotReadWhole},
        {"Grown_BetweenChunks", FileFault::Grown, Stage::BetweenChunks, Ends::NotReadWhole},
        {"Replaced_BeforeChecks", FileFault::Replaced, Stage::BeforeChecks, Ends::Sent, Sends::AsChanged},
        {"Replaced_AfterInit", FileFault::Replaced, Stage::AfterInit, Ends::Sent, Sends::Original},
        {"Replaced_BetweenChunks", FileFault::Replaced, Stage::BetweenChunks, Ends::Sent, Sends::Original},
        {"Unreadable_BeforeChecks", FileFault::Unreadable, Stage::BeforeChecks, Ends::NotOpened},
        {"Unreadable_AfterInit", FileFault::Unreadable, Stage::AfterInit, Ends::Sent, Sends::Original},
        {"Unreadable_BetweenChunks", FileFault::Unreadable, Stage::BetweenChunks, Ends::Sent, Sends::Original},
        {"Folder_BeforeChecks", FileFault::Folder, Stage::BeforeChecks, Ends::Missing},
        {"Folder_AfterInit", FileFault::Folder, Stage::AfterInit, Ends::Sent, Sends::Original},
        {"Folder_BetweenChunks", FileFault::Folder, Stage::BetweenChunks, Ends::Sent, Sends::Original},
    };
}

std::string Sha256Of(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    return vekta::sandbox::Sha256Hex(bytes);
}

class FileFaults : public LinkedSignedIn, public ::testing::TestWithParam<FileRow> {
protected:
    // Returns the SHA-256 of what the path holds afterwards, when it holds a file.
    std::string Apply(FileFault fault) {
        switch (fault) {
            case FileFault::Removed:
                std::filesystem::remove(file);
                break;
            case FileFault::Cut:
            case FileFault::Emptied:
                std::filesystem::resize_file(file, fault == FileFault::Cut ? 8'000'000 : 0);
                break;
            case FileFault::Grown: {
                std::ofstream(file, std::ios::binary | std::ios::app) << std::string(1'000'000, 'g');
                break;
            }
            case FileFault::Replaced: {
                const auto other = folder / "other.mp4";
                WriteRandomFile(other, kSize, 9);
                std::filesystem::rename(other, file);
                break;
            }
            case FileFault::Unreadable:
                std::filesystem::permissions(file, std::filesystem::perms::none);
                break;
            case FileFault::Folder: {
                std::filesystem::remove(file);
                std::filesystem::create_directory(file);
                break;
            }
        }
        return std::filesystem::is_regular_file(file) ? Sha256Of(file) : "";
    }
};

TEST_P(FileFaults, SendOnlyWhatTheJobOpenedOrEndIt) {
    const FileRow& row = GetParam();
    ASSERT_NO_FATAL_FAILURE(SetUpSignedIn());
    // A request is held at the sandbox while the file changes; changing a 12 MB file may take
    // tens of seconds on a loaded machine under a sanitizer, and no time-out is under test here.
    uploader->SetRequestTimeoutForTesting(45);
    uploader->SetIdleLimitSecondsForTesting(45);
    const std::string original = Export(kSize);
    std::string changed;
    JobRun run;
    if (row.stage == Stage::BeforeChecks) {
        changed = Apply(row.fault);
        run = Publish({}, row.fault == FileFault::Unreadable);
    } else {
        h.Sandbox().Faults().Add(row.stage == Stage::AfterInit ? Endpoint::DirectPostInit : Endpoint::UploadChunk,
                                 Fault::Hang());
        run = Publish([&] {
            ASSERT_TRUE(h.Sandbox().Faults().WaitUntilHanging(1, std::chrono::seconds(20)));
            changed = Apply(row.fault);
            h.Sandbox().Faults().ReleaseHangs();
        });
    }

    ASSERT_NE(run.result, -1) << "the job did not end within " << kJobBound.count() << " s";
    const std::vector<std::string> upToInit{"token:200", "user_info:200", "video_init:200"};
    std::vector<std::uint32_t> states;
    std::uint32_t code = 0;
    Text text = Text::None;
    std::vector<std::string> received;
    switch (row.ends) {
        case Ends::Sent: {
            const bool oneChunk = row.stage == Stage::BeforeChecks && row.fault == FileFault::Cut;
            states = oneChunk
                         ? std::vector<std::uint32_t>{kUploadStateUploading, kUploadStateNotice, kUploadStateSucceeded}
                         : std::vector<std::uint32_t>{kUploadStateUploading, kUploadStateUploading, kUploadStateNotice,
                                                      kUploadStateSucceeded};
            received = upToInit;
            if (!oneChunk) received.push_back("upload:206");
            received.push_back("upload:201");
            break;
        }
        case Ends::Missing:
        case Ends::NotOpened:
            states = {kUploadStateFailed};
            code = row.ends == Ends::Missing ? 9 : 21;
            text = row.ends == Ends::Missing ? Text::FileMissing : Text::OpenFail;
            break;
        case Ends::NotReadWhole:
            states = row.stage == Stage::AfterInit
                         ? std::vector<std::uint32_t>{kUploadStateFailed}
                         : std::vector<std::uint32_t>{kUploadStateUploading, kUploadStateFailed};
            code = 21;
            text = Text::ReadFail;
            received = upToInit;
            if (row.stage == Stage::BetweenChunks) received.push_back("upload:206");
            break;
    }
    EXPECT_EQ(run.result, row.ends == Ends::Missing || row.ends == Ends::NotOpened ? 1 : 0);
    EXPECT_EQ(States(run.events), states);
    ASSERT_FALSE(run.events.empty());
    EXPECT_EQ(run.events.back().resultCode, code);
    EXPECT_EQ(run.events.back().text, Expected(text, file));
    EXPECT_FALSE(Busy());
    EXPECT_TRUE(h.HasCredentials());
    EXPECT_EQ(run.received, received);

    const auto uploads = h.Sandbox().Uploads();
    if (row.ends == Ends::Sent) {
        ASSERT_FALSE(uploads.empty());
        EXPECT_TRUE(uploads.back().complete);
        EXPECT_EQ(uploads.back().sha256Hex, row.sends == Sends::Original ? original : changed);
    } else {
        EXPECT_TRUE(uploads.empty() || !uploads.back().complete);
    }
}

INSTANTIATE_TEST_SUITE_P(Matrix, FileFaults, ::testing::ValuesIn(Rows()),
                         [](const ::testing::TestParamInfo<FileRow>& row) { return row.param.name; });

}  // namespace
