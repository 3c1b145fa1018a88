#include "refhost/StatusRecorder.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace vekta::host {

struct StatusRecorder::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<StatusEvent> status;
    std::vector<AccountEvent> account;
    std::function<void(const StatusEvent&)> statusObserver;
    std::function<void(const AccountEvent&)> accountObserver;
};

namespace {

std::uint32_t InstanceOf(const HostInstanceRecord* record) {
    std::uint32_t id = 0;
    if (record)
        std::memcpy(&id, reinterpret_cast<const std::uint8_t*>(record) + offsetof(HostInstanceRecord, instanceID),
                    sizeof id);
    return id;
}

// Appends `event` to its list, wakes the waiters, and then, outside the lock, tells its observer.
template <typename Shared, typename Event>
void Record(Shared& shared, std::vector<Event> Shared::*events, std::function<void(const Event&)> Shared::*observerOf,
            const Event& event) {
    std::function<void(const Event&)> observer;
    {
        std::lock_guard lock(shared.mutex);
        (shared.*events).push_back(event);
        observer = shared.*observerOf;
    }
    shared.changed.notify_all();
    if (observer) observer(event);
}

// The events of one instance, in the order they came.
template <typename Shared, typename Event>
std::vector<Event> EventsOf(Shared& shared, std::vector<Event> Shared::*events, std::uint32_t instanceID) {
    std::lock_guard lock(shared.mutex);
    std::vector<Event> found;
    for (const auto& event : shared.*events)
        if (event.instanceID == instanceID) found.push_back(event);
    return found;
}

}  // namespace

StatusRecorder& StatusRecorder::Get() {
    static auto* recorder = new StatusRecorder;
    return *recorder;
}

StatusRecorder::State& StatusRecorder::Shared() const {
    static auto* state = new State;
    return *state;
}

void StatusRecorder::StatusCallback(const HostInstanceRecord* record, std::uint32_t state, float progress,
                                    const VektaUTF16Char* text, std::uint16_t textLength,
                                    const std::uint32_t* resultCode) {
    StatusEvent event;
    event.instanceID = InstanceOf(record);
    event.state = state;
    event.progress = progress;
    if (text) event.text.assign(text, textLength);
    event.resultCode = resultCode ? *resultCode : 0;
    Record(Get().Shared(), &State::status, &State::statusObserver, event);
}

void StatusRecorder::AccountCallback(const HostInstanceRecord* record, std::uint8_t signedIn, std::uint8_t kind,
                                     const VektaUTF16Char* text) {
    AccountEvent event;
    event.instanceID = InstanceOf(record);
    event.signedIn = signedIn != 0;
    event.kind = kind;
    if (text) event.text = text;
    Record(Get().Shared(), &State::account, &State::accountObserver, event);
}

std::vector<StatusEvent> StatusRecorder::StatusEvents(std::uint32_t instanceID) const {
    return EventsOf(Shared(), &State::status, instanceID);
}

std::vector<AccountEvent> StatusRecorder::AccountEvents(std::uint32_t instanceID) const {
    return EventsOf(Shared(), &State::account, instanceID);
}

void StatusRecorder::Clear() {
    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.status.clear();
    shared.account.clear();
}

bool StatusRecorder::WaitForStatus(std::uint32_t instanceID,
                                   const std::function<bool(const std::vector<StatusEvent>&)>& done,
                                   std::chrono::milliseconds timeout) const {
    auto& shared = Shared();
    std::unique_lock lock(shared.mutex);
    return shared.changed.wait_for(lock, timeout, [&] {
        std::vector<StatusEvent> events;
        for (const auto& e : shared.status)
            if (e.instanceID == instanceID) events.push_back(e);
        return done(events);
    });
}

void StatusRecorder::SetStatusObserver(std::function<void(const StatusEvent&)> observer) {
    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.statusObserver = std::move(observer);
}

void StatusRecorder::SetAccountObserver(std::function<void(const AccountEvent&)> observer) {
    auto& shared = Shared();
    std::lock_guard lock(shared.mutex);
    shared.accountObserver = std::move(observer);
}

}  // namespace vekta::host
