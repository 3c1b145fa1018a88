// Programs of the project started as separate processes, as a person starts them, with their
// output captured and every wait bounded.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace vekta::test {

class ChildProcess {
public:
    // Starts `argv` with the current environment plus `environment`, standard input from /dev/null,
    // and standard output and error captured to files.
    ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> environment = {});
    ~ChildProcess();  // kills a process that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the exit; the exit status, or -1 when it did not end in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout);
    void Signal(int signal);
    // Everything written so far.
    std::string Output() const;
    std::string Errors() const;
    // Waits until the output contains `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    pid_t pid_ = -1;
    std::string outPath_, errPath_;
    bool exited_ = false;
    int status_ = -1;
};

// Runs to the end: exit status and output.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
};
RunResult Run(std::vector<std::string> argv, std::map<std::string, std::string> environment = {},
              std::chrono::milliseconds timeout = std::chrono::seconds(90));

}  // namespace vekta::test
