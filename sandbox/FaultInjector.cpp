#include "sandbox/FaultInjector.h"

#include "sandbox/FaultRunner.h"

#include <array>
#include <utility>

namespace vekta::sandbox {
namespace {

constexpr std::array<std::pair<Endpoint, std::string_view>, 7> kEndpointNames{{
    {Endpoint::Authorize, "authorize"},
    {Endpoint::Token, "token"},
    {Endpoint::UserInfo, "user_info"},
    {Endpoint::CreatorInfo, "creator_info"},
    {Endpoint::DirectPostInit, "video_init"},
    {Endpoint::InboxInit, "inbox_video_init"},
    {Endpoint::UploadChunk, "upload"},
}};

constexpr std::array<std::pair<Fault::Action, std::string_view>, 7> kActionNames{{
    {Fault::Action::Respond, "respond"},
    {Fault::Action::Delay, "delay"},
    {Fault::Action::Hang, "hang"},
    {Fault::Action::Drop, "drop"},
    {Fault::Action::Reset, "reset"},
    {Fault::Action::Truncate, "truncate"},
    {Fault::Action::Rewrite, "rewrite"},
}};

}  // namespace

std::string_view ToString(Endpoint endpoint) {
    for (const auto& [value, name] : kEndpointNames) {
        if (value == endpoint) return name;
    }
    return "unknown";
}

std::optional<Endpoint> EndpointFromString(std::string_view name) {
    for (const auto& [value, text] : kEndpointNames) {
        if (text == name) return value;
    }
    return std::nullopt;
}

std::string_view ToString(Fault::Action action) {
    for (const auto& [value, name] : kActionNames) {
        if (value == action) return name;
    }
    return "unknown";
}

std::optional<Fault::Action> FaultActionFromString(std::string_view name) {
    for (const auto& [value, text] : kActionNames) {
        if (text == name) return value;
    }
    return std::nullopt;
}

namespace {

// A fault that answers, whole, cut short or under another status.
Fault Answering(Fault::Action action, int status, std::string body) {
    Fault fault;
    fault.action = action;
    fault.status = status;
    fault.body = std::move(body);
    return fault;
}

}  // namespace

Fault Fault::Respond(int status, std::string body) { return Answering(Action::Respond, status, std::move(body)); }

Fault Fault::Delay(std::chrono::milliseconds delay) {
    Fault fault;
    fault.action = Action::Delay;
    fault.delay = delay;
    return fault;
}

Fault Fault::Hang() {
    Fault fault;
    fault.action = Action::Hang;
    return fault;
}

Fault Fault::Drop() {
    Fault fault;
    fault.action = Action::Drop;
    return fault;
}

Fault Fault::Reset() {
    Fault fault;
    fault.action = Action::Reset;
    return fault;
}

Fault Fault::Truncate(int status, std::string body) { return Answering(Action::Truncate, status, std::move(body)); }

Fault Fault::Rewrite(int status, std::string body) { return Answering(Action::Rewrite, status, std::move(body)); }

Fault Fault::Times(int calls) const {
    Fault fault = *this;
    fault.count = calls;
    return fault;
}

void FaultInjector::Add(Endpoint endpoint, Fault fault) {
    if (fault.count <= 0) return;
    std::lock_guard lock(mutex_);
    queued_[endpoint].push_back(std::move(fault));
}

void FaultInjector::Clear() {
    std::lock_guard lock(mutex_);
    queued_.clear();
}

std::size_t FaultInjector::Queued(Endpoint endpoint) const {
    std::lock_guard lock(mutex_);
    auto found = queued_.find(endpoint);
    if (found == queued_.end()) return 0;
    std::size_t calls = 0;
    for (const auto& fault : found->second) calls += static_cast<std::size_t>(fault.count);
    return calls;
}

void FaultInjector::ReleaseHangs() {
    std::lock_guard lock(mutex_);
    ++releaseGeneration_;
    changed_.notify_all();
}

std::size_t FaultInjector::Hanging() const {
    std::lock_guard lock(mutex_);
    return hanging_;
}

bool FaultInjector::WaitUntilHanging(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return hanging_ >= count; });
}

std::optional<Fault> FaultRunner::Take(Endpoint endpoint) {
    std::lock_guard lock(faults_.mutex_);
    auto found = faults_.queued_.find(endpoint);
    if (found == faults_.queued_.end() || found->second.empty()) return std::nullopt;
    Fault& next = found->second.front();
    Fault taken = next;
    taken.count = 1;
    if (--next.count <= 0) found->second.pop_front();
    return taken;
}

bool FaultRunner::Wait(std::chrono::milliseconds delay) {
    std::unique_lock lock(faults_.mutex_);
    faults_.changed_.wait_for(lock, delay, [&] { return faults_.stopped_; });
    return !faults_.stopped_;
}

bool FaultRunner::HangUntilReleased() {
    std::unique_lock lock(faults_.mutex_);
    const std::uint64_t generation = faults_.releaseGeneration_;
    ++faults_.hanging_;
    faults_.changed_.notify_all();
    faults_.changed_.wait(lock, [&] { return faults_.stopped_ || faults_.releaseGeneration_ != generation; });
    --faults_.hanging_;
    return !faults_.stopped_;
}

void FaultRunner::Stop() {
    std::lock_guard lock(faults_.mutex_);
    faults_.stopped_ = true;
    faults_.changed_.notify_all();
}

void FaultRunner::Restart() {
    std::lock_guard lock(faults_.mutex_);
    faults_.stopped_ = false;
}

}  // namespace vekta::sandbox
