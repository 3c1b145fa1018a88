// Programs of the project started as separate processes, as a person starts them, with their
// output captured and every wait bounded; one implementation per system beside this header.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vekta::test {

class ChildProcess {
public:
    // Starts `argv` (UTF-8) with the current environment plus `environment`, standard input from
    // nothing, and standard output and error captured to files. On Windows it gets a console of its
    // own, so that Ctrl-C can be pressed in it.
    ChildProcess(std::vector<std::string> argv, std::map<std::string, std::string> environment = {});
    ~ChildProcess();  // kills a process that is still running
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Waits for the exit; the exit status, or -1 when it did not end in time (it is then killed).
    int Wait(std::chrono::milliseconds timeout);
    // Ctrl-C, as a person presses it: SIGINT, or a Ctrl-C event in its console on Windows.
    void Interrupt();
    // Asks it to end (SIGTERM); Windows has no such request, and it is ended there.
    void Terminate();
    // Everything written so far.
    std::string Output() const;
    std::string Errors() const;
    // Waits until the output contains `text`.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;

private:
    struct Process;
    std::unique_ptr<Process> process_;
    std::filesystem::path outPath_, errPath_;
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
