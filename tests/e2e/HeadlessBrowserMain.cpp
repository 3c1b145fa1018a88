// A command-line browser for the end-to-end tests: given as BROWSER, it opens the authorization
// address, gives consent and follows TikTok's redirect to the plug-in's loopback listener.
#include <cstdio>

#include "sandbox/HeadlessBrowser.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s URL\n", argv[0]);
        return 2;
    }
    const auto result = tiktok_sandbox::HeadlessBrowser().Open(argv[1]);
    if (!result.ok) {
        std::fprintf(stderr, "headless browser: %s\n", result.error.c_str());
        return 1;
    }
    // The address carries the authorization code: print nothing of it.
    return result.page.status == 200 ? 0 : 1;
}
