// The host's status and account callbacks: they record every call so that the host program can show
// it and tests can assert on it, and pass it on to an optional observer.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PostProcessSDK.h"

namespace vekta::host {

struct StatusEvent {
    std::uint32_t instanceID = 0;
    std::uint32_t state = 0;
    float progress = 0.0f;
    std::u16string text;
    std::uint32_t resultCode = 0;
};

struct AccountEvent {
    std::uint32_t instanceID = 0;
    bool signedIn = false;
    std::uint8_t kind = 0;
    std::u16string text;
};

class StatusRecorder {
public:
    // The process's recorder (the callbacks are plain functions without context).
    static StatusRecorder& Get();

    static void StatusCallback(const HostInstanceRecord* record, std::uint32_t state, float progress,
                               const VektaUTF16Char* text, std::uint16_t textLength, const std::uint32_t* resultCode);
    static void AccountCallback(const HostInstanceRecord* record, std::uint8_t signedIn, std::uint8_t kind,
                                const VektaUTF16Char* text);

    std::vector<StatusEvent> StatusEvents(std::uint32_t instanceID) const;
    std::vector<AccountEvent> AccountEvents(std::uint32_t instanceID) const;
    void Clear();
    // Waits until `done` holds for the instance's status events, or the timeout passes.
    bool WaitForStatus(std::uint32_t instanceID, const std::function<bool(const std::vector<StatusEvent>&)>& done,
                       std::chrono::milliseconds timeout) const;

    // Called after each event is recorded, on the notifying thread; may throw (the plug-in must
    // survive that). Empty to remove.
    void SetStatusObserver(std::function<void(const StatusEvent&)> observer);
    void SetAccountObserver(std::function<void(const AccountEvent&)> observer);

private:
    StatusRecorder() = default;
    struct State;
    State& Shared() const;
};

}  // namespace vekta::host
