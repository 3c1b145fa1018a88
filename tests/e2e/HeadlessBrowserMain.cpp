// A command-line browser for the end-to-end tests: given as BROWSER, it opens the address it is
// given (the plug-in's start address), gives consent and follows TikTok's redirect to the
// plug-in's loopback listener. With --record FILE it first appends the address it was started
// with to FILE, so that a test can see the browser's command line.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "sandbox/HeadlessBrowser.h"

int main(int argc, char** argv) {
    std::string address;
    std::string recordPath;
    CLI::App app("Signs in on the sandbox as a person's browser would, to the end of the redirect.",
                 "test-headless-browser");
    app.allow_windows_style_options(false);
    app.add_option("--record", recordPath, "append URL to FILE first")->type_name("FILE");
    app.add_option("URL", address, "the address to open")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return 0;
    } catch (const CLI::ParseError& error) {
        std::cerr << "test-headless-browser: " << error.what() << "\n";
        return 2;
    }
    if (!recordPath.empty()) std::ofstream(recordPath, std::ios::app) << address << "\n";
    const auto result = vekta::sandbox::HeadlessBrowser().Open(address);
    if (!result.ok) {
        std::fprintf(stderr, "headless browser: %s\n", result.error.c_str());
        return 1;
    }
    // The address carries the authorization code: print nothing of it.
    return result.page.status == 200 ? 0 : 1;
}
