// Soak: the loaded module in one host process against the sandbox, 50 sign-in/sign-out cycles with
// four publishes of a small export after each sign-in (200 in all). Once warmed up, the process
// holds no more memory, descriptors or threads at the end than it did after the warm-up: nothing a
// publish or a sign-in makes is left behind.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "../PublishTestSupport.h"

namespace {

using namespace vekta::test;

constexpr int kCycles = 50;
constexpr int kPublishesPerCycle = 4;
constexpr int kWarmUpCycles = 5;

struct Usage {
    std::int64_t residentBytes = 0;
    std::int64_t heapInUseBytes = 0;
    std::int64_t descriptors = 0;
    std::int64_t threads = 0;
};

std::int64_t EntriesIn(const char* folder) {
    std::int64_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error))
        ++count;
    return count;
}

Usage Measure() {
    // Freed memory that the allocator still keeps goes back first, so resident memory shows what
    // is in use rather than what the allocator happens to cache.
    ::malloc_trim(0);
    Usage usage;
    long pages = 0, resident = 0;
    if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    usage.residentBytes = static_cast<std::int64_t>(resident) * ::sysconf(_SC_PAGESIZE);
    usage.heapInUseBytes = static_cast<std::int64_t>(::mallinfo2().uordblks);
    usage.descriptors = EntriesIn("/proc/self/fd");
    usage.threads = EntriesIn("/proc/self/task");
    return usage;
}

std::ostream& operator<<(std::ostream& out, const Usage& u) {
    return out << "resident " << u.residentBytes / 1024 << " KiB, heap in use " << u.heapInUseBytes / 1024
               << " KiB, " << u.descriptors << " descriptors, " << u.threads << " threads";
}

TEST(Soak, PublishesAndSignInsLeaveNothingBehind) {
    PluginHarness h;
    TempFolder folder;
    const auto file = folder / "export.mp4";
    h.CreateAddAndRefresh();
    Usage warm;
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        ASSERT_TRUE(h.SignIn());
        ChoosePrivacy(h, 0);
        for (int publish = 0; publish < kPublishesPerCycle; ++publish) {
            const std::string sha256 = WriteRandomFile(file, 64 * 1024, static_cast<unsigned>(cycle * 10 + publish));
            DescribeExport(h, {file});
            h.Sandbox().ClearRequests();
            ASSERT_EQ(h.Table().execute(&h.Record(), 5), 0);
            ASSERT_EQ(h.StatusEvents().back().state, kUploadStateSucceeded);
            ASSERT_EQ(h.Sandbox().Uploads().back().sha256Hex, sha256);
        }
        // The sign-out button.
        ASSERT_EQ(h.Changed("VOXATikTokLogin"), 0);
        ASSERT_FALSE(h.HasCredentials());
        if (cycle + 1 == kWarmUpCycles) warm = Measure();
    }
    // Threads that a finished sign-in or request lets go of end on their own, shortly.
    Usage end = Measure();
    WaitUntil([&] { return (end = Measure()).threads <= warm.threads && end.descriptors <= warm.descriptors; },
              std::chrono::seconds(10));
    std::cout << "after warm-up (" << kWarmUpCycles << " cycles, " << kWarmUpCycles * kPublishesPerCycle
              << " publishes): " << warm << "\nat the end (" << kCycles << " cycles, " << kCycles * kPublishesPerCycle
              << " publishes): " << end << std::endl;
    ::testing::Test::RecordProperty("heap_growth_bytes", std::to_string(end.heapInUseBytes - warm.heapInUseBytes));
    ::testing::Test::RecordProperty("resident_growth_bytes", std::to_string(end.residentBytes - warm.residentBytes));

    EXPECT_LE(end.threads, warm.threads);
    EXPECT_LE(end.descriptors, warm.descriptors);
    // 180 publishes and 45 sign-ins after the warm-up: a leak of 2 KiB each would pass 450 KiB.
    EXPECT_LE(end.heapInUseBytes - warm.heapInUseBytes, 256 * 1024);
    EXPECT_LE(end.residentBytes - warm.residentBytes, 2 * 1024 * 1024);
}

}  // namespace
