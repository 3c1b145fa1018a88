#include <map>
#include <mutex>
#include <string>

#include "talappsupport/Feature.h"

namespace talappsupport::feature {
namespace {

struct Features {
    std::mutex mutex;
    std::map<std::string, bool, std::less<>> enabled{{"tiktok", true}};
};

Features& Table() {
    static auto* features = new Features;
    return *features;
}

}  // namespace

bool IsRegulatedFeatureEnabled(std::string_view feature) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    const auto it = t.enabled.find(feature);
    return it != t.enabled.end() && it->second;
}

void SetRegulatedFeatureEnabled(std::string_view feature, bool enabled) {
    auto& t = Table();
    std::lock_guard lock(t.mutex);
    t.enabled[std::string(feature)] = enabled;
}

}  // namespace talappsupport::feature
