#include "BuiltInSandbox.h"

#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "sandbox/HeadlessBrowser.h"
#include "sandbox/Sandbox.h"

namespace vekta::host {
namespace {

class RunningSandbox final : public BuiltInSandbox {
public:
    bool Start() { return sandbox_.Start(0); }
    std::string Origin() const override { return sandbox_.Origin(); }

    void SignInHeadless(const std::string& address) override {
        std::lock_guard lock(mutex_);
        signIns_.emplace_back([address] {
            const auto result = vekta::sandbox::HeadlessBrowser().Open(address);
            if (!result.ok) std::fprintf(stderr, "vekta-host: headless sign-in failed: %s\n", result.error.c_str());
        });
    }

    void JoinSignIns() override {
        std::vector<std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(signIns_);
        }
        for (auto& t : threads) t.join();
    }

    void Stop() override {
        JoinSignIns();
        sandbox_.Stop();
    }

    ~RunningSandbox() override { Stop(); }

private:
    vekta::sandbox::Sandbox sandbox_;
    std::mutex mutex_;
    std::vector<std::thread> signIns_;
};

}  // namespace

std::unique_ptr<BuiltInSandbox> BuiltInSandbox::Start(std::string& error) {
    auto sandbox = std::make_unique<RunningSandbox>();
    if (!sandbox->Start()) {
        error = "the built-in TikTok sandbox did not start";
        return nullptr;
    }
    return sandbox;
}

}  // namespace vekta::host
