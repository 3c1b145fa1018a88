#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

#include "brimkit/IdleCountdownTimer.h"
#include "talcore/messaging/Messaging.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/RefCounted.h"

namespace {

using namespace std::chrono_literals;
using namespace talcore::messaging;
using talcore::threads::PumpMainThreadTasks;
using talcore::threads::PumpMainThreadTasksUntil;
using talcore::utility::MakeRefCounted;
using Clock = std::chrono::steady_clock;

const MessageID kExpired = HashMessageTypeNameToMessageID(Brim::MessageNameForIdleCountdownTimerMessage);

// A listener owned by a reference-counted object, as the plug-in's are.
struct Owner : talcore::utility::RefCountedObjectWithWeakPtr, Listener {
    ~Owner() override { alive = false; }
    void ReceiveMessage(const Message& m) override {
        EXPECT_TRUE(alive && talcore::threads::CurrentThreadIsMainThread());
        received.push_back(m);
    }
    bool Got(StationID from) const {
        for (const auto& m : received)
            if (m.from == from) return true;
        return false;
    }
    bool alive = true;
    std::vector<Message> received;  // main thread only
};

class MessagingTest : public ::testing::Test {
protected:
    void SetUp() override { Brim::IdleCountdownTimer::SetTimeScaleForTesting(0.0001); }  // 300000 ms: 30 ms
    void TearDown() override {
        Brim::IdleCountdownTimer::SetTimeScaleForTesting(1.0);
        PumpMainThreadTasks();
    }
    bool PumpUntilGot(StationID from) {
        return PumpMainThreadTasksUntil([&] { return owner->Got(from); }, Clock::now() + 10s);
    }
    talcore::utility::RefCountedPtr<Owner> owner = MakeRefCounted<Owner>();
};

TEST_F(MessagingTest, PostedMessagesReachListenersOnTheMainThreadUntilRemoved) {
    EXPECT_EQ(HashMessageTypeNameToMessageID("foobar"), 0x85944171f73967e8ull) << "must not change between releases";
    const StationID station = CreateStation();
    AddWeakListener(station, *owner, *owner);
    std::thread([&] { PostMessage(station, {11, station}); }).join();
    EXPECT_TRUE(owner->received.empty()) << "delivered only when the main thread pumps";
    PumpMainThreadTasks();
    ASSERT_EQ(owner->received.size(), 1u);
    RemoveListener(station, *owner);
    PostMessage(station, {12, station});
    PumpMainThreadTasks();
    EXPECT_EQ(owner->received.size(), 1u);
}

// Messages keep coming from another thread while the owner's last reference goes, on the main
// thread (destroyed at once) or off it (destroyed by the next pump): none reaches the dead listener.
TEST_F(MessagingTest, WeakListenerWhoseOwnerIsReleasedConcurrently) {
    for (int round = 0; round < 40; ++round) {
        const StationID station = CreateStation();
        auto doomed = MakeRefCounted<Owner>();
        AddWeakListener(station, *doomed, *doomed);
        const auto key = doomed->GetWeakKey();
        std::thread poster([&] {
            for (int i = 0; i < 100; ++i) PostMessage(station, {1, station});
        });
        if (round % 2)
            doomed.Reset();
        else
            std::thread([o = std::move(doomed)]() mutable { o.Reset(); }).join();
        poster.join();
        PumpMainThreadTasks();
        EXPECT_FALSE(talcore::utility::RefCountedObjectWithWeakPtr::Lock(key));
        PostMessage(station, {2, station});  // for a released owner: dropped
        PumpMainThreadTasks();
    }
}

// A timer's expiry reaches its station's listeners on the main thread. After DisarmTimer, a re-arm
// or destruction no stale expiry may arrive: neither one still counting down nor one already on its
// way to the main thread. A control timer armed afterwards expires later, so once its expiry is in,
// a stale one would be in too.
TEST_F(MessagingTest, TimerExpiresOnTheMainThreadAndDisarmedRearmedOrDestroyedPostNothing) {
    for (const bool alreadyExpired : {false, true}) {
        for (const char* then : {"disarm", "rearm", "destroy"}) {
            auto timer = std::make_unique<Brim::IdleCountdownTimer>();
            const StationID stale = timer->GetStationID();
            AddWeakListener(stale, *owner, *owner);
            timer->SetDuration(alreadyExpired ? 10 : 300000);
            timer->ArmTimer();
            // Expired off the main thread, the main thread not having pumped yet.
            for (auto until = Clock::now() + 10s; alreadyExpired && timer->IsArmed() && Clock::now() < until;)
                std::this_thread::sleep_for(1ms);
            ASSERT_NE(timer->IsArmed(), alreadyExpired);
            if (then == std::string_view("disarm")) timer->DisarmTimer();
            if (then == std::string_view("rearm")) timer->SetDuration(3'000'000'000), timer->ArmTimer();
            if (then == std::string_view("destroy")) timer.reset();

            Brim::IdleCountdownTimer control;
            AddWeakListener(control.GetStationID(), *owner, *owner);
            control.SetDuration(300000);
            control.ArmTimer();
            ASSERT_TRUE(PumpUntilGot(control.GetStationID()));
            EXPECT_EQ(owner->received.back().type, kExpired);
            EXPECT_FALSE(control.IsArmed());
            EXPECT_FALSE(owner->Got(stale)) << then << (alreadyExpired ? " after expiry" : "");
        }
    }
}

}  // namespace
