#include "brimkit/IdleCountdownTimer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>

#include "MessagingInternal.h"
#include "talcore/threads/MainThread.h"

namespace Brim {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<double>& TimeScale() {
    static std::atomic<double> scale{1.0};
    return scale;
}

}  // namespace

struct IdleCountdownTimer::State {
    std::mutex mutex;
    std::int64_t durationMs = 0;
    bool armed = false;
    Clock::time_point deadline;
    std::uint64_t generation = 0;
    talcore::messaging::StationID station = 0;
};

namespace {

// One thread serves every timer: it sleeps until the earliest deadline and posts the expiry message.
class TimerService {
public:
    static TimerService& Get() {
        static auto* service = new TimerService;  // never destroyed: its thread runs until exit
        return *service;
    }

    void Schedule(std::weak_ptr<IdleCountdownTimer::State> state, Clock::time_point deadline, std::uint64_t gen) {
        {
            std::lock_guard lock(mutex_);
            // A new countdown makes the timer's earlier ones stale; a timer that is re-armed on
            // every bit of activity must not pile up entries until their old deadlines pass.
            entries_.remove_if([&](const Entry& e) {
                return e.state.expired() || (!e.state.owner_before(state) && !state.owner_before(e.state));
            });
            entries_.push_back({std::move(state), deadline, gen});
        }
        changed_.notify_all();
    }

private:
    struct Entry {
        std::weak_ptr<IdleCountdownTimer::State> state;
        Clock::time_point deadline;
        std::uint64_t generation;
    };

    TimerService() {
        std::thread([this] { Run(); }).detach();
    }

    void Run() {
        std::unique_lock lock(mutex_);
        for (;;) {
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            std::list<Entry> due;
            for (auto it = entries_.begin(); it != entries_.end();) {
                if (it->deadline <= now) {
                    due.splice(due.end(), entries_, it++);
                } else {
                    next = std::min(next, it->deadline);
                    ++it;
                }
            }
            if (!due.empty()) {
                lock.unlock();
                for (auto& entry : due) Fire(entry);
                lock.lock();
                continue;
            }
            if (next == Clock::time_point::max()) {
                changed_.wait(lock);
            } else {
                changed_.wait_until(lock, next);
            }
        }
    }

    static void Fire(const Entry& entry) {
        {
            const auto state = entry.state.lock();
            if (!state) return;
            std::lock_guard lock(state->mutex);
            if (!state->armed || state->generation != entry.generation) return;
            state->armed = false;
        }
        // The expiry stands only if the timer is still alive and neither disarmed nor re-armed when
        // the main thread gets to it: the host may do either while this waits in its queue.
        talcore::threads::PostToMainThread([weak = entry.state, generation = entry.generation] {
            talcore::messaging::StationID station = 0;
            {
                const auto state = weak.lock();
                if (!state) return;
                std::lock_guard lock(state->mutex);
                if (state->generation != generation) return;
                station = state->station;
            }
            static const auto kExpired =
                talcore::messaging::HashMessageTypeNameToMessageID(MessageNameForIdleCountdownTimerMessage);
            talcore::messaging::detail::DeliverMessage(station, {kExpired, station});
        });
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Entry> entries_;
};

}  // namespace

IdleCountdownTimer::IdleCountdownTimer()
    : state_(std::make_shared<State>()), station_(talcore::messaging::CreateStation()) {
    state_->station = station_;
}

IdleCountdownTimer::~IdleCountdownTimer() {
    DisarmTimer();
    talcore::messaging::RemoveStation(station_);
}

void IdleCountdownTimer::SetDuration(std::int64_t milliseconds) {
    std::lock_guard lock(state_->mutex);
    state_->durationMs = milliseconds;
}

void IdleCountdownTimer::ArmTimer() {
    Clock::time_point deadline;
    std::uint64_t generation = 0;
    {
        std::lock_guard lock(state_->mutex);
        // Clamped so that a "never" duration cannot overflow the conversion or the clock.
        constexpr double kMaxMicroseconds = 10.0 * 365 * 24 * 3600 * 1e6;
        const double scaled = static_cast<double>(state_->durationMs) * 1000.0 * TimeScale().load();
        const double micros = std::clamp(scaled, 0.0, kMaxMicroseconds);
        deadline = Clock::now() + std::chrono::microseconds(static_cast<std::int64_t>(micros));
        state_->deadline = deadline;
        state_->armed = true;
        generation = ++state_->generation;
    }
    TimerService::Get().Schedule(state_, deadline, generation);
}

void IdleCountdownTimer::DisarmTimer() {
    std::lock_guard lock(state_->mutex);
    state_->armed = false;
    ++state_->generation;
}

bool IdleCountdownTimer::IsArmed() const {
    std::lock_guard lock(state_->mutex);
    return state_->armed;
}

void IdleCountdownTimer::SetTimeScaleForTesting(double scale) { TimeScale().store(scale > 0 ? scale : 1.0); }

}  // namespace Brim
