#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "talcore/threads/MainThread.h"
#include "talcore/utility/RefCounted.h"

namespace {

using namespace talcore::utility;
using talcore::threads::PumpMainThreadTasks;

constexpr std::uint32_t kAlive = 0xA11CE;

struct Probe : RefCountedObjectWithWeakPtr {
    explicit Probe(std::atomic<int>& d) : destroyed(d) {}
    ~Probe() override {
        magic = 0;
        offMain += talcore::threads::CurrentThreadIsMainThread() ? 0 : 1;
        ++destroyed;
    }
    std::uint32_t magic = kAlive;
    std::atomic<int>& destroyed;
    static inline std::atomic<int> offMain{0};
};

// Drops the previous lock first, so that it does not keep the object alive across this one.
Probe* Relock(std::uint64_t key, RefCountedPtr<RefCountedInterface>& held) {
    held.Reset();
    held = RefCountedObjectWithWeakPtr::Lock(key);
    return dynamic_cast<Probe*>(held.Get());
}

class RefCountedTest : public ::testing::Test {
protected:
    void TearDown() override {
        PumpMainThreadTasks();
        EXPECT_EQ(Probe::offMain, 0) << "destroyed off the main thread";
    }
    std::atomic<int> destroyed_{0};
};

TEST_F(RefCountedTest, LastReleaseOffTheMainThreadWaitsForThePump) {
    auto object = MakeRefCounted<Probe>(destroyed_);
    const auto key = object->GetWeakKey();
    std::thread([o = std::move(object)]() mutable { o.Reset(); }).join();
    EXPECT_EQ(destroyed_, 0);
    EXPECT_FALSE(RefCountedObjectWithWeakPtr::Lock(key));
    EXPECT_GE(PumpMainThreadTasks(), 1u);
    EXPECT_EQ(destroyed_, 1);
}

// Lock on one thread while the last reference goes away on another (or on the main thread): a
// lock gets a live object or nothing, and once nothing, never the object again.
TEST_F(RefCountedTest, LockRacingWithTheLastRelease) {
    for (const bool releaseOnMain : {true, false}) {
        for (int round = 0; round < 200; ++round) {
            auto object = MakeRefCounted<Probe>(destroyed_);
            const auto key = object->GetWeakKey();
            std::atomic<bool> go{false};
            std::thread locker([&] {
                while (!go) std::this_thread::yield();
                RefCountedPtr<RefCountedInterface> held;
                while (Probe* p = Relock(key, held)) ASSERT_EQ(p->magic, kAlive);
                ASSERT_FALSE(RefCountedObjectWithWeakPtr::Lock(key));
            });
            go = true;
            if (releaseOnMain)
                object.Reset();
            else
                std::thread([o = std::move(object)]() mutable { o.Reset(); }).join();
            locker.join();
            PumpMainThreadTasks();
        }
    }
    EXPECT_EQ(destroyed_, 400);
}

}  // namespace
