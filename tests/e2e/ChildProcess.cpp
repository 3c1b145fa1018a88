#include "tests/e2e/ChildProcess.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace vekta::test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

std::string ChildProcess::Output() const { return ReadFile(outPath_); }
std::string ChildProcess::Errors() const { return ReadFile(errPath_); }

bool ChildProcess::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

RunResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment,
              std::chrono::milliseconds timeout) {
    ChildProcess child(std::move(argv), std::move(environment));
    RunResult result;
    result.status = child.Wait(timeout);
    result.out = child.Output();
    result.err = child.Errors();
    return result;
}

}  // namespace vekta::test
