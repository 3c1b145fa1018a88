// What the benchmarks share: sizes and memory readings, the generated export file, the sandbox's
// sign-in and upload initialisation, and the two references every upload is measured against (the
// request processor's PUTs and one curl process PUTting the same ranges).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "talnet/http/RequestProcessor.h"

namespace CLI {
class App;
}

namespace vekta::bench {

inline constexpr std::uint64_t kMiB = 1024 * 1024;
inline constexpr auto kRequestLimit = std::chrono::seconds(120);
inline constexpr const char* kClientKey = "mqv27xk0pd4rh8sz";
inline constexpr const char* kClientSecret = "3f6c0a9e5b17d4820c9ea3716bd05f4a";
inline constexpr const char* kRedirectUri = "http://127.0.0.1:55980/VektaAuthTikTok";

[[noreturn]] void Fail(const std::string& what);

// Adds an option that takes a size: "1G", "5M", "64K", "1000" (bytes; decimal digits and a unit
// of 1024s), up to 2^64 - 1 bytes.
void AddSizeOption(CLI::App& app, const std::string& name, std::uint64_t& size, const std::string& description);
// Adds --repeat, a number of rounds from 1.
void AddRepeatOption(CLI::App& app, int& repeat);
// Reads the command line into the options of `app`. Empty to go on; otherwise the exit code the
// program ends with, after printing the usage (--help, 0) or what is wrong (2).
std::optional<int> ReadCommandLine(CLI::App& app, int argc, char** argv);
// A benchmark's main: `run`'s exit code, or 1 with the message of an exception that escaped it.
int RunMain(const char* name, int (*run)(int, char**), int argc, char** argv);

// This process's peak resident memory (VmHWM), and what is resident now (VmRSS).
std::uint64_t PeakResidentBytes();
std::uint64_t ResidentBytes();
// Lowers the peak to what is resident now, so that the next reading is the peak of what follows;
// false when the system does not allow it.
bool ResetPeakResident();

// The file holds zeros (left sparse, so it is made at once) with its own offset written as 8
// bytes at every MiB, so misplaced bytes change the digest. `first` places a piece of it.
void WritePattern(int fd, std::uint64_t first, std::uint64_t length);

// Reads a file once, so that the runs that follow find it in the page cache and none of them pays
// for filling it.
void WarmPageCache(const std::string& path);

// A temporary folder whose files, made through File, go with it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string File(const std::string& name);

private:
    std::string path_;
    std::vector<std::string> files_;
};

// Starts a program found on PATH, its standard output to `output` and its errors to `errors` when
// given.
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output, const std::string& errors = {});

// One request through the processor, waited for.
std::shared_ptr<talnet::http::Response> Call(talnet::http::RequestProcessor& processor, const std::string& method,
                                             const std::string& url, const std::string& body,
                                             const talnet::http::HeaderMap& headers);
// The decoded value of query parameter `name` of `url`.
std::string QueryValue(const std::string& url, const std::string& name);

// Signs in to the sandbox at `origin` (auto-approving) as the plug-in does, authorization code with
// PKCE; returns the access token.
std::string SignIn(talnet::http::RequestProcessor& processor, const std::string& origin);

struct Plan {
    std::uint64_t size = 0;
    std::uint64_t chunk = 0;
    std::uint64_t count = 0;
    std::uint64_t First(std::uint64_t i) const { return i * chunk; }
    std::uint64_t Length(std::uint64_t i) const { return i + 1 == count ? size - First(i) : chunk; }
    std::string Range(std::uint64_t i) const {
        return "bytes " + std::to_string(First(i)) + "-" + std::to_string(First(i) + Length(i) - 1) + "/" +
               std::to_string(size);
    }
};

// Opens an inbox upload for the plan and returns its upload URL.
std::string InitUpload(talnet::http::RequestProcessor& processor, const std::string& origin, const std::string& token,
                       const Plan& plan);

// When the processor's caller reads each chunk from the file.
enum class ChunkReading {
    // One reused buffer, filled once the chunk before has been answered: the plug-in's way.
    JustBeforeSending,
    // Two buffers: the next chunk is read, at idle priority, while the current one is on the wire,
    // as the curl program reads its file while it sends.
    WhileOneIsInFlight,
};

// Reference (a): PUTs every chunk through the processor, one request at a time. Returns the
// seconds the chunks took.
double UploadWithProcessor(talnet::http::RequestProcessor& processor, const std::string& sourcePath,
                           const std::string& url, const Plan& plan,
                           ChunkReading reading = ChunkReading::JustBeforeSending);

// User plus system time, in seconds.
struct CpuTimes {
    double self = 0;   // this process's, the in-process sandbox's included
    double child = 0;  // the curl process's
};
// This process's user plus system time so far.
double ProcessCpuSeconds();

// Reference (b): the same ranges through one curl process, one request per chunk file, in one
// config file. The chunk files are written and read once first; returns the seconds the curl
// process took, and in `cpu` the CPU time spent meanwhile.
double UploadWithCurl(TempDir& temp, const std::string& origin, const std::string& url, const Plan& plan,
                      CpuTimes* cpu = nullptr);

}  // namespace vekta::bench
