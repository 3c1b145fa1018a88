#include "talcore/debug/Trace.h"

#include <atomic>
#include <boost/algorithm/hex.hpp>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "Environment.h"
#include "TraceFile.h"

namespace talcore::debug {
namespace {

struct TraceConfig {
    std::map<std::string, int, std::less<>> levels;  // "*" applies to every category
    std::string filePath;
};

struct TraceState {
    std::mutex mutex;
    std::shared_ptr<const TraceConfig> config = std::make_shared<TraceConfig>();
    std::atomic<std::uint64_t> changeCount{1};
    std::FILE* file = nullptr;
};

std::string_view Trim(std::string_view s) {
    constexpr std::string_view kSpace = " \t\r\n";
    const auto first = s.find_first_not_of(kSpace);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(kSpace) - first + 1);
}

// "A:3, B:7,*:1": spaces around items are allowed ("A:3, B:7" is what people type).
std::shared_ptr<TraceConfig> Parse(std::string_view text) {
    auto config = std::make_shared<TraceConfig>();
    while (!text.empty()) {
        const auto comma = text.find(',');
        std::string_view item = Trim(text.substr(0, comma));
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        if (item.empty()) continue;
        int level = 10;
        if (const auto colon = item.rfind(':'); colon != std::string_view::npos) {
            level = std::atoi(std::string(Trim(item.substr(colon + 1))).c_str());
            item = Trim(item.substr(0, colon));
        }
        if (!item.empty()) config->levels[std::string(item)] = level;
    }
    return config;
}

// Control characters in a traced text (a path from a request, a file name) would let it forge
// lines of its own or drive the terminal; they are written as \xHH. Only the line end that the
// caller put last stays as it is.
std::string EscapeControlCharacters(std::string_view text) {
    std::size_t body = text.size();
    if (body > 0 && text[body - 1] == '\n') --body;
    if (body > 0 && text[body - 1] == '\r' && body < text.size()) --body;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < body; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += "\\x";
            boost::algorithm::hex_lower(&c, &c + 1, std::back_inserter(out));
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    out.append(text.substr(body));
    return out;
}

void Apply(TraceState& state, std::shared_ptr<TraceConfig> config) {
    std::lock_guard lock(state.mutex);
    if (state.file) {
        std::fclose(state.file);
        state.file = nullptr;
    }
    if (!config->filePath.empty()) state.file = detail::OpenTraceFile(config->filePath);
    state.config = std::move(config);
    state.changeCount.fetch_add(1, std::memory_order_acq_rel);
}

TraceState& State() {
    static TraceState* state = [] {
        auto* s = new TraceState;
        if (const auto env = system::detail::EnvironmentValue("VEKTA_TRACE")) {
            auto config = Parse(*env);
            if (auto file = system::detail::EnvironmentValue("VEKTA_TRACE_FILE")) config->filePath = std::move(*file);
            Apply(*s, std::move(config));
        }
        return s;
    }();
    return *state;
}

// Nothing for an unconfigured category: "off" must hold for every level, negative ones included.
std::optional<int> LevelFor(const TraceConfig& config, std::string_view category) {
    if (const auto it = config.levels.find(category); it != config.levels.end()) return it->second;
    if (const auto it = config.levels.find("*"); it != config.levels.end()) return it->second;
    return std::nullopt;
}

}  // namespace

bool TraceEnabled(std::string_view category, int level) {
    auto& state = State();
    std::shared_ptr<const TraceConfig> config;
    {
        std::lock_guard lock(state.mutex);
        config = state.config;
    }
    const auto configured = LevelFor(*config, category);
    return configured && level <= *configured;
}

void Trace(std::string_view category, int level, std::string_view text) {
    if (!TraceEnabled(category, level)) return;
    const std::string line = EscapeControlCharacters(text);
    auto& state = State();
    std::lock_guard lock(state.mutex);
    std::FILE* out = state.file ? state.file : stderr;
    std::fprintf(out, "[%.*s:%d] %.*s", static_cast<int>(category.size()), category.data(), level,
                 static_cast<int>(line.size()), line.data());
    if (line.empty() || line.back() != '\n') std::fputc('\n', out);
    std::fflush(out);
}

std::uint64_t TraceChangeCount() { return State().changeCount.load(std::memory_order_acquire); }

void SetTraceConfig(std::string_view config, const std::string& filePath) {
    auto parsed = Parse(config);
    parsed->filePath = filePath;
    Apply(State(), std::move(parsed));
}

}  // namespace talcore::debug
