// Helpers for the publishing tests: exported files in a private temporary folder, the host's calls
// that describe an export, and what the sandbox received.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "sandbox/Sha256.h"
#include "talcore/string/Unicode.h"
#include "tests/tiktok/PluginHarness.h"

namespace vekta::test {

inline constexpr std::uint32_t kH264 = VEKTA_FOURCC('H', '2', '6', '4');
inline constexpr std::uint32_t kMooV = VEKTA_FOURCC('M', 'o', 'o', 'V');
inline constexpr std::uint64_t kChunk = 5'242'880;

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        static std::atomic<unsigned> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("vekta-publish-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes `size` pseudo-random bytes; returns their SHA-256 in lower-case hex.
inline std::string WriteRandomFile(const std::filesystem::path& path, std::uint64_t size, unsigned seed = 1) {
    std::independent_bits_engine<std::mt19937, 8, unsigned> random(seed);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    for (auto& b : bytes) b = static_cast<char>(random());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return vekta::sandbox::Sha256Hex(bytes);
}

// A file of `size` bytes that takes no room on disk.
inline void WriteSparseFile(const std::filesystem::path& path, std::uint64_t size) {
    { std::ofstream touch(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, size);
}

inline std::u16string Utf16(const std::filesystem::path& path) { return talcore::string::UTF8to16(path.string()); }

// What a job that passes every check of `file` tells a person who is not signed in.
inline std::u16string NotSignedInText(const std::filesystem::path& file) {
    return u"Exported video was not uploaded to TikTok because you are not signed in. You can upload it manually "
           u"from:\n" +
           Utf16(file);
}

inline ExportVideoInfo VideoInfo(std::uint32_t fileType = kH264, std::uint32_t width = 1080,
                                 std::uint32_t height = 1920, float frameRate = 30.0f,
                                 std::uint64_t durationMs = 5000) {
    ExportVideoInfo info{};
    info.fileType = fileType;
    info.frameWidth = width;
    info.frameHeight = height;
    info.frameRate = frameRate;
    info.durationMs = durationMs;
    return info;
}

// What the host says about a finished export: its files, its format and its description.
inline void DescribeExport(PluginHarness& h, const std::vector<std::filesystem::path>& files,
                           const ExportVideoInfo& info = VideoInfo()) {
    std::vector<std::u16string> paths;
    for (const auto& file : files) paths.push_back(Utf16(file));
    std::vector<OutputFileEntry> entries(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const char16_t* p = paths[i].c_str();
        std::memcpy(reinterpret_cast<std::uint8_t*>(&entries[i]) + offsetof(OutputFileEntry, path), &p, sizeof p);
    }
    ASSERT_EQ(
        h.Table().receiveOutputFiles(&h.Record(), 0, 0, static_cast<std::uint32_t>(entries.size()), entries.data()),
        kCallbackDone);
    ASSERT_EQ(h.Table().checkOutputFormat(&h.Record(), &info), kCallbackDone);
    ASSERT_EQ(h.Table().receiveVideoInfo(&h.Record(), &info), kCallbackDone);
}

// Chooses the privacy option at `position` as the user does in the popup.
inline void ChoosePrivacy(PluginHarness& h, std::int32_t position) {
    h.SetInteger("VOXATikTokPrivacy", position);
    ASSERT_EQ(h.Changed("VOXATikTokPrivacy"), 0);
}

// A signed-in instance with a public account whose privacy is "Everyone".
inline void SignedInForPost(PluginHarness& h) {
    h.CreateAddAndRefresh();
    ASSERT_TRUE(h.SignIn());
    ChoosePrivacy(h, 0);
}

// Execute(5) on a thread of its own, as the host's export thread runs it.
inline std::future<std::int32_t> ExecuteAsync(PluginHarness& h) {
    return std::async(std::launch::async, [&h] { return h.Table().execute(&h.Record(), kExecuteSelectorPublish); });
}

// Waits, bounded, for an Execute started by ExecuteAsync; -1 when it did not end in time. A run
// that hangs is left behind unjoined, so that the test fails instead of stalling the suite.
inline std::int32_t Finish(std::future<std::int32_t>& run, std::chrono::seconds bound = std::chrono::seconds(60)) {
    if (run.wait_for(bound) != std::future_status::ready) {
        static auto* const abandoned = new std::vector<std::future<std::int32_t>>;
        abandoned->push_back(std::move(run));
        return -1;
    }
    return run.get();
}

inline std::vector<vekta::sandbox::RequestRecord> ChunkRequests(vekta::sandbox::Sandbox& sandbox) {
    std::vector<vekta::sandbox::RequestRecord> puts;
    for (auto& record : sandbox.Requests())
        if (record.endpoint == "upload") puts.push_back(std::move(record));
    return puts;
}

inline std::vector<host::StatusEvent> EventsInState(const std::vector<host::StatusEvent>& events, std::uint32_t state) {
    std::vector<host::StatusEvent> matching;
    for (const auto& e : events)
        if (e.state == state) matching.push_back(e);
    return matching;
}

}  // namespace vekta::test
