// The stand-in for the built-in sandbox where the sandbox library is not part of the build.
#include "BuiltInSandbox.h"

namespace vekta::host {

std::unique_ptr<BuiltInSandbox> BuiltInSandbox::Start(std::string& error) {
    error =
        "--sandbox: this vekta-host has no built-in TikTok sandbox (it needs cpp-httplib, which is not built "
        "for Windows). Start tiktok-sandbox (built on Linux; under Wine it can run beside this program) and map "
        "TikTok's origins to it: --origin-map https://www.tiktok.com=http://127.0.0.1:PORT --origin-map "
        "https://open.tiktokapis.com=http://127.0.0.1:PORT";
    return nullptr;
}

}  // namespace vekta::host
