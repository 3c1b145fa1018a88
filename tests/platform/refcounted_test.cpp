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

TEST_F(RefCountedTest, WeakKeysAndUseCounts) {
    auto object = MakeRefCounted<Probe>(destroyed_);
    const auto key = object->GetWeakKey();
    RefCountedPtr<RefCountedInterface> held;
    EXPECT_EQ(Relock(key, held), object.Get());
    object->AddUseCount();
    object->AddUseCount();
    object->ReleaseUseCount();
    EXPECT_EQ(object->GetUseCount(), 1);
    object.Reset();
    held.Reset();
    EXPECT_EQ(destroyed_, 0) << "a use holds a strong reference";
    Relock(key, held)->ReleaseUseCount();
    held.Reset();
    EXPECT_EQ(destroyed_, 1) << "a last release on the main thread destroys at once";
    EXPECT_FALSE(RefCountedObjectWithWeakPtr::Lock(key));

    auto next = MakeRefCounted<Probe>(destroyed_);
    next->ReleaseUseCount();  // without a matching use: must not drop the strong reference
    EXPECT_EQ(next->magic, kAlive);
    for (std::uint64_t foreign : {std::uint64_t{0}, std::uint64_t{42}, ~std::uint64_t{0}, key})
        EXPECT_FALSE(RefCountedObjectWithWeakPtr::Lock(foreign)) << foreign;
    EXPECT_NE(next->GetWeakKey(), key) << "keys are never reused";
}

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
                for (int i = 0; i < 3; ++i) ASSERT_FALSE(RefCountedObjectWithWeakPtr::Lock(key));
            });
            go = true;
            if (releaseOnMain) object.Reset();
            else std::thread([o = std::move(object)]() mutable { o.Reset(); }).join();
            locker.join();
            PumpMainThreadTasks();
        }
    }
    EXPECT_EQ(destroyed_, 400);
}

}  // namespace
