// A command-line browser for the end-to-end tests: given as BROWSER, it opens the address it is
// given (the plug-in's start address), gives consent and follows TikTok's redirect to the
// plug-in's loopback listener. With --record FILE it first appends the address it was started
// with to FILE, so that a test can see the browser's command line.
#include <cstdio>
#include <cstring>
#include <fstream>

#include "sandbox/HeadlessBrowser.h"

int main(int argc, char** argv) {
    const bool record = argc == 4 && std::strcmp(argv[1], "--record") == 0;
    if (argc != 2 && !record) {
        std::fprintf(stderr, "usage: %s [--record FILE] URL\n", argv[0]);
        return 2;
    }
    const char* address = argv[argc - 1];
    if (record) std::ofstream(argv[2], std::ios::app) << address << "\n";
    const auto result = vekta::sandbox::HeadlessBrowser().Open(address);
    if (!result.ok) {
        std::fprintf(stderr, "headless browser: %s\n", result.error.c_str());
        return 1;
    }
    // The address carries the authorization code: print nothing of it.
    return result.page.status == 200 ? 0 : 1;
}
