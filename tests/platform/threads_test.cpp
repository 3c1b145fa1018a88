#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "talcore/threads/Executor.h"
#include "talcore/threads/Gate.h"
#include "talcore/threads/MainThread.h"

namespace {

using namespace std::chrono_literals;
using namespace talcore::threads;
using Clock = std::chrono::steady_clock;

TEST(ThreadsTest, GateOpensForEveryWaiterAcrossThreadsAndCloses) {
    Gate gate;
    EXPECT_FALSE(gate.PassThroughUntil(Clock::now() + 5ms));
    std::atomic<int> through{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) waiters.emplace_back([&] { through += gate.PassThroughUntil(Clock::now() + 10s); });
    gate.Open();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(through, 4);
    EXPECT_TRUE(gate.PassThroughUntil(Clock::now() - 1s)) << "late comers pass an open gate";
    gate.Close();
    EXPECT_FALSE(gate.PassThroughUntil(Clock::now()));
}

TEST(ThreadsTest, CallAsyncRunsEveryWorkOffTheMainThreadEvenAfterThrowingWork) {
    constexpr int kWork = 64;
    std::atomic<int> ran{0}, onMain{0};
    Gate allDone;
    CallAsync(GetCPUBoundExecutor(), [] { throw std::runtime_error("queued work failed"); });
    const auto work = [&] {
        onMain += CurrentThreadIsMainThread();
        if (++ran == kWork) allDone.Open();
    };
    std::thread poster([&] {
        for (int i = 0; i < kWork / 2; ++i) CallAsync(GetCPUBoundExecutor(), work, i % 2);
    });
    for (int i = 0; i < kWork / 2; ++i) CallAsync(GetCPUBoundExecutor(), work);
    poster.join();
    ASSERT_TRUE(allDone.PassThroughUntil(Clock::now() + 10s)) << ran;
    EXPECT_EQ(onMain, 0);
}

// Tasks posted from other threads run in order, only when the main thread pumps.
TEST(ThreadsTest, MainThreadTasksRunInOrderWhenPumped) {
    std::vector<int> order;
    std::thread([&] {
        EXPECT_FALSE(CurrentThreadIsMainThread());
        PostToMainThread([&] { order.push_back(1); });
        PostToMainThread([&] { order.push_back(2); });
    }).join();
    EXPECT_TRUE(order.empty());
    EXPECT_EQ(PumpMainThreadTasks(), 2u);
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
