// Intrusive reference counting with weak keys.
//
// An object starts with no strong reference. RefCountedPtr<T> holds one. The host's ownership is a
// separate use count (each use also holds a strong reference). GetWeakKey gives a 64-bit key that
// Lock turns back into a strong pointer while the object lives and into an empty one afterwards;
// keys are never reused, so a stale or made-up key locks to nothing. The last release destroys the
// object on the host's main thread: at once when released there, otherwise queued for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "talcore/TalExport.h"

namespace talcore::utility {

class TAL_API RefCountedInterface {
public:
    virtual void AddRefCount() const noexcept = 0;
    virtual void ReleaseRefCount() const noexcept = 0;

protected:
    virtual ~RefCountedInterface() = default;
};

// Strong pointer to a reference-counted object.
template <class T>
class RefCountedPtr {
public:
    RefCountedPtr() noexcept = default;
    RefCountedPtr(std::nullptr_t) noexcept {}
    // Takes a new reference.
    explicit RefCountedPtr(T* object) noexcept : object_(object) {
        if (object_) object_->AddRefCount();
    }
    RefCountedPtr(const RefCountedPtr& other) noexcept : RefCountedPtr(other.object_) {}
    RefCountedPtr(RefCountedPtr&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    template <class U>
    RefCountedPtr(RefCountedPtr<U>&& other) noexcept : object_(other.Detach()) {}
    ~RefCountedPtr() { Reset(); }

    RefCountedPtr& operator=(RefCountedPtr other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    // Adopts a reference the caller already holds.
    static RefCountedPtr Adopt(T* object) noexcept {
        RefCountedPtr p;
        p.object_ = object;
        return p;
    }
    // Gives up the reference without releasing it.
    T* Detach() noexcept { return std::exchange(object_, nullptr); }

    void Reset() noexcept {
        if (T* o = std::exchange(object_, nullptr)) o->ReleaseRefCount();
    }
    T* Get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

template <class T, class... Args>
RefCountedPtr<T> MakeRefCounted(Args&&... args) {
    return RefCountedPtr<T>(new T(std::forward<Args>(args)...));
}

class TAL_API RefCountedObjectWithWeakPtr : public virtual RefCountedInterface {
public:
    RefCountedObjectWithWeakPtr(const RefCountedObjectWithWeakPtr&) = delete;
    RefCountedObjectWithWeakPtr& operator=(const RefCountedObjectWithWeakPtr&) = delete;

    void AddRefCount() const noexcept override;
    void ReleaseRefCount() const noexcept override;

    // The host's ownership; each use holds a strong reference.
    void AddUseCount() noexcept;
    void ReleaseUseCount() noexcept;
    std::int32_t GetUseCount() const noexcept;

    std::uint64_t GetWeakKey() const noexcept { return weakKey_; }

    // [any-thread] A strong pointer to the object behind `weakKey`, or an empty one when it has
    // been released (or never existed). Safe to race with the last release.
    static RefCountedPtr<RefCountedInterface> Lock(std::uint64_t weakKey) noexcept;

protected:
    RefCountedObjectWithWeakPtr();
    ~RefCountedObjectWithWeakPtr() override;

private:
    // Destroys the object on the main thread: now when called there, else queued for it.
    void DestructOnMainThread() const noexcept;
    bool TryAddRefCount() const noexcept;

    mutable std::atomic<std::int32_t> refCount_{0};
    std::atomic<std::int32_t> useCount_{0};
    const std::uint64_t weakKey_;
};

}  // namespace talcore::utility
