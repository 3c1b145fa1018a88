#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "UploaderTestSupport.h"
#include "talcore/string/Unicode.h"

namespace {

using namespace vekta::test;
namespace fs = std::filesystem;
using vekta::host::StatusRecorder;

class PostUploadActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRegistries();
        dir_ = fs::temp_directory_path() / ("post-upload-" + std::to_string(id_));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        ClearRegistries();
        fs::remove_all(dir_);
        talcore::threads::PumpMainThreadTasks();
    }
    std::u16string MakeFile(const std::string& name) {
        std::ofstream(dir_ / name) << "video";
        return talcore::string::UTF8to16((dir_ / name).string());
    }
    void GiveFiles(TestUploader& uploader, const std::vector<std::u16string>& paths) {
        std::vector<OutputFileEntry> entries(paths.size());
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const char16_t* p = paths[i].c_str();
            std::memcpy(reinterpret_cast<std::uint8_t*>(&entries[i]) + 4, &p, sizeof p);
        }
        uploader.SetOutputFiles(static_cast<std::uint32_t>(entries.size()), entries.data());
    }

    std::uint32_t id_ = NextInstanceID();
    fs::path dir_;
};

TEST_F(PostUploadActionsTest, DeletesEveryFileByOneDecisionWhenNothingElseNeedsThem) {
    auto uploader = MakeUploader(id_);
    const auto a = MakeFile("a.mp4"), b = MakeFile("b.mp4");
    GiveFiles(*uploader, {a, b});
    uploader->SetDeleteLocalFile(true);
    uploader->DeleteLocalFilesIfAllowed();
    uploader->Complete();
    EXPECT_FALSE(fs::exists(dir_ / "a.mp4"));
    EXPECT_FALSE(fs::exists(dir_ / "b.mp4"));
    EXPECT_EQ(uploader->GetState(), Vekta::UploadState::Succeeded);
}

TEST_F(PostUploadActionsTest, TwoDestinationsAskingToDeleteKeepTheFileUntilTheLastOneFinishes) {
    auto first = MakeUploader(id_, 9);
    auto second = MakeUploader(NextInstanceID(), 2);
    const auto path = MakeFile("shared.mp4");
    GiveFiles(*first, {path});
    GiveFiles(*second, {path});
    first->SetDeleteLocalFile(true);
    second->SetDeleteLocalFile(true);

    first->DeleteLocalFilesIfAllowed();
    EXPECT_TRUE(fs::exists(dir_ / "shared.mp4"));
    EXPECT_EQ(Vekta::DeleteRequestRegistry::Snapshot()[8], 0) << "the finisher's own flag is cleared";

    second->DeleteLocalFilesIfAllowed();
    EXPECT_FALSE(fs::exists(dir_ / "shared.mp4"));
}

TEST_F(PostUploadActionsTest, ABusyDestinationKeepsTheFile) {
    auto uploader = MakeUploader(id_);
    GiveFiles(*uploader, {MakeFile("busy.mp4")});
    uploader->SetDeleteLocalFile(true);
    Vekta::UploadBusyRegistry::SetBusy(4, true);
    uploader->DeleteLocalFilesIfAllowed();
    EXPECT_TRUE(fs::exists(dir_ / "busy.mp4"));
}

TEST_F(PostUploadActionsTest, AFileThatCannotBeDeletedBecomesAWarningAndTheJobEndsWithNotice) {
    auto uploader = MakeUploader(id_);
    // A non-empty directory cannot be removed as a file, not even by root.
    fs::create_directories(dir_ / "stuck.mp4" / "inside");
    GiveFiles(*uploader, {talcore::string::UTF8to16((dir_ / "stuck.mp4").string())});
    uploader->SetDeleteLocalFile(true);
    uploader->DeleteLocalFilesIfAllowed();
    uploader->Complete();

    const auto events = StatusRecorder::Get().StatusEvents(id_);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].state, kUploadStateNotice);
    EXPECT_FLOAT_EQ(events[0].progress, 0.99f);
    EXPECT_EQ(events[0].text, u"Error deleting exported file after a successful upload.");
    EXPECT_EQ(events[1].state, kUploadStateSucceededWithNotice);
}

TEST_F(PostUploadActionsTest, DestinationFiveHasNoDeleteFlag) {
    auto uploader = MakeUploader(id_, 5);
    uploader->SetDeleteLocalFile(true);
    EXPECT_TRUE(uploader->GetDeleteLocalFile());
    for (const auto flag : Vekta::DeleteRequestRegistry::Snapshot()) EXPECT_EQ(flag, 0);
}

TEST_F(PostUploadActionsTest, WithoutTheDeleteFlagNothingIsTouched) {
    auto uploader = MakeUploader(id_);
    GiveFiles(*uploader, {MakeFile("keep.mp4")});
    uploader->DeleteLocalFilesIfAllowed();
    EXPECT_TRUE(fs::exists(dir_ / "keep.mp4"));
    EXPECT_TRUE(StatusRecorder::Get().StatusEvents(id_).empty());
}

}  // namespace
