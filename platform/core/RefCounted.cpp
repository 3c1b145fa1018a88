#include "talcore/utility/RefCounted.h"

#include <mutex>
#include <unordered_map>

#include "talcore/threads/MainThread.h"

namespace talcore::utility {
namespace {

// Live objects by weak key. Keys are never reused, so a key that is not here locks to nothing.
struct WeakRegistry {
    std::mutex mutex;
    std::unordered_map<std::uint64_t, const RefCountedObjectWithWeakPtr*> objects;
    std::uint64_t nextKey = 0x5EED000000000001ull;
};

WeakRegistry& Registry() {
    // Never destroyed: objects may be released by threads still running at process exit.
    static auto* registry = new WeakRegistry;
    return *registry;
}

std::uint64_t Register(const RefCountedObjectWithWeakPtr* object) {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    const std::uint64_t key = r.nextKey++;
    r.objects.emplace(key, object);
    return key;
}

}  // namespace

RefCountedObjectWithWeakPtr::RefCountedObjectWithWeakPtr() : weakKey_(Register(this)) {}

RefCountedObjectWithWeakPtr::~RefCountedObjectWithWeakPtr() {
    // Normally gone already (last release); an object destroyed without ever being counted is not.
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    r.objects.erase(weakKey_);
}

void RefCountedObjectWithWeakPtr::AddRefCount() const noexcept { refCount_.fetch_add(1, std::memory_order_relaxed); }

bool RefCountedObjectWithWeakPtr::TryAddRefCount() const noexcept {
    std::int32_t count = refCount_.load(std::memory_order_relaxed);
    while (count > 0) {
        if (refCount_.compare_exchange_weak(count, count + 1, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void RefCountedObjectWithWeakPtr::ReleaseRefCount() const noexcept {
    if (refCount_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    {
        // From here on Lock cannot find the object; a Lock that found it just before fails its
        // increment because the count is 0.
        auto& r = Registry();
        std::lock_guard lock(r.mutex);
        r.objects.erase(weakKey_);
    }
    DestructOnMainThread();
}

void RefCountedObjectWithWeakPtr::DestructOnMainThread() const noexcept {
    auto* self = const_cast<RefCountedObjectWithWeakPtr*>(this);
    if (threads::CurrentThreadIsMainThread()) {
        delete self;
        return;
    }
    try {
        threads::PostToMainThread([self] { delete self; });
    } catch (...) {
        // Out of memory while queueing: leaking the object is safer than destroying it here.
    }
}

void RefCountedObjectWithWeakPtr::AddUseCount() noexcept {
    useCount_.fetch_add(1, std::memory_order_relaxed);
    AddRefCount();
}

void RefCountedObjectWithWeakPtr::ReleaseUseCount() noexcept {
    // A release without a matching use would destroy an object someone else still holds.
    std::int32_t uses = useCount_.load(std::memory_order_relaxed);
    while (uses > 0) {
        if (useCount_.compare_exchange_weak(uses, uses - 1, std::memory_order_acq_rel)) {
            ReleaseRefCount();
            return;
        }
    }
}

std::int32_t RefCountedObjectWithWeakPtr::GetUseCount() const noexcept {
    return useCount_.load(std::memory_order_relaxed);
}

RefCountedPtr<RefCountedInterface> RefCountedObjectWithWeakPtr::Lock(std::uint64_t weakKey) noexcept {
    auto& r = Registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.objects.find(weakKey);
    if (it == r.objects.end() || !it->second->TryAddRefCount()) return {};
    const RefCountedInterface* object = it->second;
    return RefCountedPtr<RefCountedInterface>::Adopt(const_cast<RefCountedInterface*>(object));
}

}  // namespace talcore::utility
