// The TikTok sandbox run inside the host program (--sandbox), with a headless sign-in for machines
// without a browser. A build without the sandbox library (the Windows one: it needs cpp-httplib)
// has a stand-in that refuses with what to do instead.
#pragma once

#include <memory>
#include <string>

namespace vekta::host {

class BuiltInSandbox {
public:
    // Started on a free port of 127.0.0.1; null with `error` set when it cannot run here.
    static std::unique_ptr<BuiltInSandbox> Start(std::string& error);

    virtual ~BuiltInSandbox() = default;
    // "http://127.0.0.1:PORT", where TikTok's origins are to be mapped.
    virtual std::string Origin() const = 0;
    // [any-thread] Signs in at `address` on a thread of its own, as a person's browser would.
    virtual void SignInHeadless(const std::string& address) = 0;
    // Waits for the headless sign-ins started so far.
    virtual void JoinSignIns() = 0;
    virtual void Stop() = 0;
};

}  // namespace vekta::host
