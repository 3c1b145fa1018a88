#include "talcore/messaging/Messaging.h"

#include <atomic>
#include <map>
#include <mutex>
#include <vector>

#include "MessagingInternal.h"
#include "talcore/threads/MainThread.h"
#include "talcore/utility/RefCounted.h"

namespace talcore::messaging {
namespace {

struct Registration {
    std::uint64_t ownerKey;
    CommonListener* listener;
};

struct Stations {
    std::mutex mutex;
    std::map<StationID, std::vector<Registration>> listeners;
    std::atomic<StationID> next{1};
};

Stations& Table() {
    static auto* stations = new Stations;
    return *stations;
}

bool StillRegistered(StationID station, const Registration& r) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.listeners.find(station);
    if (it == t.listeners.end()) return false;
    for (const auto& entry : it->second)
        if (entry.listener == r.listener && entry.ownerKey == r.ownerKey) return true;
    return false;
}

}  // namespace

MessageID HashMessageTypeNameToMessageID(std::string_view typeName) {
    // FNV-1a: stable across runs and processes.
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : typeName) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

StationID CreateStation() { return Table().next.fetch_add(1); }

void AddWeakListener(StationID station, const talcore::utility::RefCountedObjectWithWeakPtr& owner,
                     CommonListener& listener) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    t.listeners[station].push_back({owner.GetWeakKey(), &listener});
}

void RemoveListener(StationID station, CommonListener& listener) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.listeners.find(station);
    if (it == t.listeners.end()) return;
    std::erase_if(it->second, [&](const Registration& r) { return r.listener == &listener; });
    if (it->second.empty()) t.listeners.erase(it);
}

void RemoveStation(StationID station) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    t.listeners.erase(station);
}

void detail::DeliverMessage(StationID station, const Message& message) {
    std::vector<Registration> registrations;
    {
        auto& t = Table();
        std::lock_guard lock(t.mutex);
        if (const auto it = t.listeners.find(station); it != t.listeners.end()) registrations = it->second;
    }
    for (const auto& r : registrations) {
        // The owner may have been released, or the listener removed by an earlier delivery.
        const auto owner = utility::RefCountedObjectWithWeakPtr::Lock(r.ownerKey);
        if (!owner || !StillRegistered(station, r)) continue;
        r.listener->ReceiveMessage(message);
    }
}

void PostMessage(StationID station, const Message& message) {
    threads::PostToMainThread([station, message] { detail::DeliverMessage(station, message); });
}

}  // namespace talcore::messaging
