#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "PluginHarness.h"
#include "talcore/string/Unicode.h"

namespace {

using vekta::test::PluginHarness;
namespace fs = std::filesystem;

TEST(PublishSmoke, ADirectPostOfTwelveMillionBytesArrivesWhole) {
    PluginHarness h;
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());

    const fs::path file = fs::temp_directory_path() / "vekta-publish-smoke.mp4";
    {
        std::ofstream out(file, std::ios::binary);
        std::mt19937 random(7);
        std::string bytes(12'000'000, '\0');
        for (auto& b : bytes) b = static_cast<char>(random());
        out << bytes;
    }
    const std::u16string path = talcore::string::UTF8to16(file.string());
    OutputFileEntry entry{};
    const char16_t* p = path.c_str();
    std::memcpy(reinterpret_cast<std::uint8_t*>(&entry) + 4, &p, sizeof p);
    ASSERT_EQ(h.Table().receiveOutputFiles(&h.Record(), 0, 0, 1, &entry), 0);
    ExportVideoInfo info{};
    info.fileType = VEKTA_FOURCC('H', '2', '6', '4');
    info.frameWidth = 1080;
    info.frameHeight = 1920;
    info.frameRate = 30.0f;
    info.durationMs = 5000;
    ASSERT_EQ(h.Table().checkOutputFormat(&h.Record(), &info), 0);
    ASSERT_EQ(h.Table().receiveVideoInfo(&h.Record(), &info), 0);
    h.SetInteger("VOXATikTokPrivacy", 0);
    ASSERT_EQ(h.Changed("VOXATikTokPrivacy"), 0);
    ASSERT_EQ(h.Table().sendCommand(&h.Record(), 3), 0);

    EXPECT_EQ(h.Table().execute(&h.Record(), 5), 0);
    const auto events = h.StatusEvents();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().state, kUploadStateSucceeded);
    const auto uploads = h.Sandbox().Uploads();
    ASSERT_EQ(uploads.size(), 1u);
    EXPECT_TRUE(uploads[0].complete);
    ASSERT_EQ(uploads[0].chunks.size(), 2u);
    EXPECT_EQ(uploads[0].chunks[1].first, 5242880u);
    EXPECT_EQ(uploads[0].chunks[1].last, 11999999u);
    fs::remove(file);
}

}  // namespace
