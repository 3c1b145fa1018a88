// What the benchmarks share; see BenchSupport.h.
#include "bench/BenchSupport.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <any>
#include <array>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <utility>

#include <boost/algorithm/hex.hpp>

#include "talcore/crypto/SHA256.h"
#include "talcore/serialization/JSON.h"
#include "talcore/threads/Gate.h"
#include "talnet/Headers.h"
#include "talnet/http/HttpHelpers.h"

extern char** environ;

namespace vekta::bench {
namespace {

using Clock = std::chrono::steady_clock;
using talcore::utility::ImmutableString;
namespace json = talcore::serialization;
namespace http = talnet::http;

std::string Hex(const std::array<std::uint8_t, 32>& digest) {
    std::string out;
    boost::algorithm::hex_lower(digest.begin(), digest.end(), std::back_inserter(out));
    return out;
}

}  // namespace

[[noreturn]] void Fail(const std::string& what) { throw std::runtime_error(what); }

namespace {

// Decimal digits only: CLI11's own integer reading takes a leading zero as octal.
template <typename Number>
std::optional<Number> ReadDecimal(std::string_view text) {
    Number value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> ReadSize(std::string_view text) {
    static constexpr std::pair<std::string_view, std::uint64_t> kUnits[] = {
        {"GiB", 1024 * kMiB}, {"MiB", kMiB}, {"KiB", 1024}, {"G", 1024 * kMiB}, {"M", kMiB}, {"K", 1024}, {"B", 1}};
    std::uint64_t unit = 1;
    for (const auto& [suffix, bytes] : kUnits) {
        if (text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix) {
            text.remove_suffix(suffix.size());
            unit = bytes;
            break;
        }
    }
    const auto number = ReadDecimal<std::uint64_t>(text);
    if (!number || *number > std::numeric_limits<std::uint64_t>::max() / unit) return std::nullopt;
    return *number * unit;
}

}  // namespace

void AddSizeOption(CLI::App& app, const std::string& name, std::uint64_t& size, const std::string& description) {
    app.add_option_function<std::string>(
           name,
           [name, &size](const std::string& text) {
               const auto bytes = ReadSize(text);
               if (!bytes)
                   throw CLI::ValidationError(name, "takes a size such as 1G, 5M, 64K or 1000, not '" + text + "'");
               size = *bytes;
           },
           description)
        ->type_name("SIZE");
}

void AddRepeatOption(CLI::App& app, int& repeat) {
    app.add_option_function<std::string>(
           "--repeat",
           [&repeat](const std::string& text) {
               const auto rounds = ReadDecimal<int>(text);
               if (!rounds || *rounds < 1)
                   throw CLI::ValidationError("--repeat", "takes a number from 1, not '" + text + "'");
               repeat = *rounds;
           },
           "rounds; the medians count (default " + std::to_string(repeat) + ")")
        ->type_name("N");
}

std::optional<int> ReadCommandLine(CLI::App& app, int argc, char** argv) {
    app.allow_windows_style_options(false);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& error) {
        std::fprintf(stderr, "%s: %s\nRun '%s --help' for the options.\n", app.get_name().c_str(), error.what(),
                     app.get_name().c_str());
        return 2;
    }
    return std::nullopt;
}

std::uint64_t PeakResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

std::uint64_t ResidentBytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;  // in kB
    }
    Fail("no VmRSS in /proc/self/status");
}

bool ResetPeakResident() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

void WritePattern(int fd, std::uint64_t first, std::uint64_t length) {
    if (ftruncate(fd, static_cast<off_t>(length)) != 0) Fail("cannot size a file");
    for (std::uint64_t marker = first / kMiB * kMiB; marker < first + length; marker += kMiB) {
        unsigned char bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(marker >> (8 * i));
        for (std::uint64_t at = std::max(marker, first); at < std::min(marker + 8, first + length); ++at) {
            if (pwrite(fd, &bytes[at - marker], 1, static_cast<off_t>(at - first)) != 1) Fail("cannot write a file");
        }
    }
}

void WarmPageCache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open " + path);
    std::vector<char> buffer(4 * kMiB);
    while (read(fd, buffer.data(), buffer.size()) > 0) {
    }
    close(fd);
}

TempDir::TempDir() {
    std::string pattern =
        (std::getenv("TMPDIR") ? std::string(std::getenv("TMPDIR")) : std::string("/tmp")) + "/vekta_bench.XXXXXX";
    if (!mkdtemp(pattern.data())) Fail("cannot make a temporary folder");
    path_ = pattern;
}

TempDir::~TempDir() {
    for (const auto& file : files_) unlink(file.c_str());
    rmdir(path_.c_str());
}

std::string TempDir::File(const std::string& name) {
    files_.push_back(path_ + "/" + name);
    return files_.back();
}

pid_t Spawn(const std::vector<std::string>& arguments, const std::string& output, const std::string& errors) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) Fail("cannot start " + arguments[0]);
    return pid;
}

std::shared_ptr<http::Response> Call(http::RequestProcessor& processor, const std::string& method,
                                     const std::string& url, const std::string& body, const http::HeaderMap& headers) {
    auto gate = std::make_shared<talcore::threads::Gate>();
    auto result = std::make_shared<std::shared_ptr<http::Response>>();
    const auto completion = [gate, result](const http::RequestID&, std::shared_ptr<http::Response> response) {
        *result = std::move(response);
        gate->Open();
    };
    const auto id = http::RequestID::CreateUnique();
    const ImmutableString target(url);
    const auto payload = std::make_shared<talcore::allocator::RecycledMemory>(body);
    const bool accepted = method == "GET" ? processor.Get(id, completion, target, headers, {})
                                          : processor.Post(id, completion, target, payload, headers, {});
    if (!accepted) Fail(method + " refused");
    if (!gate->PassThroughUntil(Clock::now() + kRequestLimit)) {
        processor.Cancel(id);
        gate->PassThroughUntil(Clock::now() + kRequestLimit);
    }
    if (!*result) Fail(method + " got no answer");
    return *result;
}

std::string QueryValue(const std::string& url, const std::string& name) {
    const auto start = url.find('?');
    std::stringstream query(start == std::string::npos ? std::string() : url.substr(start + 1));
    for (std::string pair; std::getline(query, pair, '&');) {
        if (pair.rfind(name + "=", 0) != 0) continue;
        std::string value;
        for (std::size_t i = name.size() + 1; i < pair.size(); ++i) {
            if (pair[i] == '%' && i + 2 < pair.size()) {
                value.push_back(static_cast<char>(std::stoi(pair.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                value.push_back(pair[i] == '+' ? ' ' : pair[i]);
            }
        }
        return value;
    }
    Fail("no " + name + " in the answer");
}

std::string SignIn(http::RequestProcessor& processor, const std::string& origin) {
    static constexpr char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
    std::random_device random;
    std::string verifier;
    for (int i = 0; i < 64; ++i) verifier.push_back(kUnreserved[random() % (sizeof kUnreserved - 1)]);
    talcore::crypto::SHA256HashState hash;
    talcore::crypto::UpdateHashState(hash, verifier.data(), verifier.size());
    const std::string query = http::QuoteURL({{"client_key", kClientKey},
                                              {"scope", "video.upload"},
                                              {"response_type", "code"},
                                              {"redirect_uri", kRedirectUri},
                                              {"state", "bench"},
                                              {"code_challenge", Hex(talcore::crypto::GetHashResult(hash))},
                                              {"code_challenge_method", "S256"}});
    const auto authorized = Call(processor, "GET", origin + "/v2/auth/authorize/?" + query, {}, {});
    const auto location = authorized->headers.find("location");
    if (authorized->status != 302 || location == authorized->headers.end()) Fail("authorize did not redirect");

    const std::string form = http::QuoteURL({{"client_key", kClientKey},
                                             {"client_secret", kClientSecret},
                                             {"code", QueryValue(location->second, "code")},
                                             {"grant_type", "authorization_code"},
                                             {"redirect_uri", kRedirectUri},
                                             {"code_verifier", verifier}});
    const http::HeaderMap formType = {{ImmutableString(talnet::kHEADER_CONTENT_TYPE),
                                       ImmutableString(talnet::kHEADER_CONTENT_TYPE_APPLICATION_WWW_FORM_URLENCODED)}};
    const auto tokens = Call(processor, "POST", origin + "/v2/oauth/token/", form, formType);
    const auto accessToken = json::GetVariantInObject(json::JSONParse(tokens->body), "access_token");
    if (json::IsNull(accessToken)) Fail("no token: " + tokens->body);  // an error answer carries no secret
    return std::any_cast<const std::string&>(*accessToken);
}

std::string InitUpload(http::RequestProcessor& processor, const std::string& origin, const std::string& token,
                       const Plan& plan) {
    auto source = json::MakeJSONObject();
    json::AddToObject(source, "source", json::MakeJSONNode(std::string("FILE_UPLOAD")));
    json::AddToObject(source, "video_size", json::MakeJSONNode(plan.size));
    json::AddToObject(source, "chunk_size", json::MakeJSONNode(plan.chunk));
    json::AddToObject(source, "total_chunk_count", json::MakeJSONNode(plan.count));
    auto body = json::MakeJSONObject();
    json::AddToObject(body, "source_info", source);
    const http::HeaderMap headers = {
        {ImmutableString(talnet::kHEADER_AUTHORIZATION), ImmutableString("Bearer " + token)},
        {ImmutableString(talnet::kHEADER_CONTENT_TYPE),
         ImmutableString(talnet::kHEADER_CONTENT_TYPE_APPLICATION_JSON_UTF_8)}};
    const auto answer =
        Call(processor, "POST", origin + "/v2/post/publish/inbox/video/init/", json::GetJSONUTF8String(body), headers);
    if (answer->status != 200) Fail("init answered " + std::to_string(answer->status) + ": " + answer->body);
    const auto data = json::GetVariantInObject(json::JSONParse(answer->body), "data");
    return std::any_cast<const std::string&>(*json::GetVariantInObject(data, "upload_url"));
}

namespace {

using ChunkBuffer = std::shared_ptr<std::vector<std::uint8_t>>;

// Chunk i of the file in `buffer`, which is replaced when its length differs.
void ReadChunk(int fd, const Plan& plan, std::uint64_t i, ChunkBuffer& buffer) {
    const std::uint64_t length = plan.Length(i);
    if (!buffer || buffer->size() != length) {
        buffer.reset();  // a buffer of another length goes before its replacement comes
        buffer = std::make_shared<std::vector<std::uint8_t>>(length);
    }
    for (std::uint64_t done = 0; done < length;) {
        const ssize_t n = pread(fd, buffer->data() + done, length - done, static_cast<off_t>(plan.First(i) + done));
        if (n <= 0) Fail("cannot read the source file");
        done += static_cast<std::uint64_t>(n);
    }
}

double SendChunks(http::RequestProcessor& processor, const std::string& sourcePath, const std::string& url,
                  const Plan& plan, ChunkReading reading) {
    const int fd = open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) Fail("cannot open the source file");
    const bool readAhead = reading == ChunkReading::WhileOneIsInFlight;
    const auto start = Clock::now();
    ChunkBuffer buffers[2];
    if (readAhead) ReadChunk(fd, plan, 0, buffers[0]);
    for (std::uint64_t i = 0; i < plan.count; ++i) {
        ChunkBuffer& current = buffers[readAhead ? i % 2 : 0];
        if (!readAhead) ReadChunk(fd, plan, i, current);
        const std::uint64_t length = plan.Length(i);
        auto gate = std::make_shared<talcore::threads::Gate>();
        auto status = std::make_shared<std::atomic<std::uint32_t>>(http::kStatusNoResponse);
        const http::HeaderMap headers = {
            {ImmutableString(talnet::kHEADER_CONTENT_TYPE), ImmutableString("video/mp4")},
            {ImmutableString(talnet::kHEADER_CONTENT_LENGTH), ImmutableString(std::to_string(length))},
            {ImmutableString(talnet::kHEADER_CONTENT_RANGE), ImmutableString(plan.Range(i))}};
        const bool accepted = processor.Put(
            http::RequestID::CreateUnique(),
            [gate, status](const http::RequestID&, std::shared_ptr<http::Response> response) {
                status->store(response->status);
                gate->Open();
            },
            ImmutableString(url), std::make_shared<talcore::allocator::RecycledMemory>(current), headers, {});
        // The other buffer's chunk has been answered, so curl no longer reads it.
        if (accepted && readAhead && i + 1 < plan.count) ReadChunk(fd, plan, i + 1, buffers[(i + 1) % 2]);
        if (!accepted || !gate->PassThroughUntil(Clock::now() + kRequestLimit))
            Fail("chunk " + std::to_string(i) + " failed");
        const std::uint32_t expected = i + 1 == plan.count ? 201 : 206;
        if (status->load() != expected)
            Fail("chunk " + std::to_string(i) + " answered " + std::to_string(status->load()));
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return seconds;
}

}  // namespace

double UploadWithProcessor(http::RequestProcessor& processor, const std::string& sourcePath, const std::string& url,
                           const Plan& plan, ChunkReading reading) {
    if (reading == ChunkReading::JustBeforeSending) return SendChunks(processor, sourcePath, url, plan, reading);
    // The thread that reads ahead runs at idle priority, so that its reads take only the CPU time
    // that the processor and the server leave over, as the curl program's reads fill its waits.
    double seconds = 0;
    std::exception_ptr error;
    std::thread([&] {
        const sched_param none{};
        sched_setscheduler(0, SCHED_IDLE, &none);  // this thread only; without it the reads still happen
        try {
            seconds = SendChunks(processor, sourcePath, url, plan, reading);
        } catch (...) {
            error = std::current_exception();
        }
    }).join();
    if (error) std::rethrow_exception(error);
    return seconds;
}

namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double UploadWithCurl(TempDir& temp, const std::string& origin, const std::string& url, const Plan& plan,
                      CpuTimes* cpu) {
    const std::string config = temp.File("curl.config");
    std::ofstream out(config);
    for (std::uint64_t i = 0; i < plan.count; ++i) {
        const std::string chunkPath = temp.File("chunk." + std::to_string(i));
        const int fd = open(chunkPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) Fail("cannot make a chunk file");
        WritePattern(fd, plan.First(i), plan.Length(i));
        close(fd);
        WarmPageCache(chunkPath);
        if (i > 0) out << "next\n";
        // -T appends the file's name to a URL whose path ends in "/", so the target is given apart.
        out << "url = \"" << origin << "/upload\"\n"
            << "request-target = \"" << url.substr(origin.size()) << "\"\n"
            << "upload-file = \"" << chunkPath << "\"\n"
            << "header = \"Content-Type: video/mp4\"\n"
            << "header = \"Content-Range: " << plan.Range(i) << "\"\n"
            << "header = \"Expect:\"\n"  // as the processor: no 100-continue round trip
            << "output = \"/dev/null\"\n"
            << "write-out = \"%{http_code}\\n\"\n"
            << "silent\nshow-error\n";
    }
    out.close();
    const std::string codes = temp.File("curl.codes");
    const double selfBefore = ProcessCpuSeconds();
    const auto start = Clock::now();
    const pid_t pid = Spawn({"curl", "-K", config}, codes);
    int status = 0;
    rusage child{};
    wait4(pid, &status, 0, &child);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (cpu) *cpu = {ProcessCpuSeconds() - selfBefore, Seconds(child.ru_utime) + Seconds(child.ru_stime)};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("curl failed");
    std::ifstream answers(codes);
    std::uint64_t answered = 0;
    for (std::string code; answers >> code; ++answered) {
        if (code != (answered + 1 == plan.count ? "201" : "206"))
            Fail("curl chunk " + std::to_string(answered) + " answered " + code);
    }
    if (answered != plan.count) Fail("curl sent " + std::to_string(answered) + " chunks");
    return seconds;
}

int RunMain(const char* name, int (*run)(int, char**), int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s: %s\n", name, error.what());
        return 1;
    }
}

}  // namespace vekta::bench
