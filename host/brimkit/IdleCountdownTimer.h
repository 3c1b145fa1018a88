// A countdown that posts MessageNameForIdleCountdownTimerMessage to its station when it runs out.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "talcore/TalExport.h"
#include "talcore/messaging/Messaging.h"

namespace Brim {

inline constexpr const char* MessageNameForIdleCountdownTimerMessage = "Brim::IdleCountdownTimer::Expired";

class TAL_API IdleCountdownTimer {
public:
    IdleCountdownTimer();
    ~IdleCountdownTimer();  // disarms
    IdleCountdownTimer(const IdleCountdownTimer&) = delete;
    IdleCountdownTimer& operator=(const IdleCountdownTimer&) = delete;

    void SetDuration(std::int64_t milliseconds);
    // Starts (or restarts) the countdown from now.
    void ArmTimer();
    void DisarmTimer();
    bool IsArmed() const;
    talcore::messaging::StationID GetStationID() const noexcept { return station_; }

    // Host side, for tests: every timer armed from now on runs `scale` times its duration
    // (1.0 restores real time).
    static void SetTimeScaleForTesting(double scale);

    struct State;  // shared with the platform's timer thread

private:
    std::shared_ptr<State> state_;
    talcore::messaging::StationID station_;
};

}  // namespace Brim
