#include "refhost/BasicSuiteHost.h"

#include <atomic>
#include <cstring>

#include "ExportParamSuite.h"
#include "refhost/ExportParamHost.h"

namespace vekta::host {
namespace {

constexpr std::int32_t kUnknownSuite = -1;
constexpr std::int32_t kBadArgument = -2;
constexpr std::size_t kMaxSuiteNameLength = 256;

std::atomic<bool> exportParamSuiteAvailable{true};

bool IsExportParamSuite(const char* name, std::int32_t version) {
    return name != nullptr && version == kExportParamSuiteVersion &&
           ::strnlen(name, kMaxSuiteNameLength) == sizeof(kExportParamSuiteName) - 1 &&
           std::strcmp(name, kExportParamSuiteName) == 0;
}

std::int32_t ReleaseSuite(const char* name, std::int32_t version) noexcept {
    return IsExportParamSuite(name, version) ? kSuiteSuccess : kUnknownSuite;
}

}  // namespace

std::int32_t AcquireSuite(const char* name, std::int32_t version, const void** suite) noexcept {
    if (suite == nullptr) return kBadArgument;
    *suite = nullptr;
    if (!IsExportParamSuite(name, version) || !exportParamSuiteAvailable.load()) return kUnknownSuite;
    *suite = ExportParamHost::Suite();
    return kSuiteSuccess;
}

const BasicSuite* GetBasicSuite() noexcept {
    static const BasicSuite basicSuite = {&AcquireSuite, &ReleaseSuite};
    return &basicSuite;
}

void SetExportParamSuiteAvailable(bool available) noexcept { exportParamSuiteAvailable.store(available); }

bool IsExportParamSuiteAvailable() noexcept { return exportParamSuiteAvailable.load(); }

}  // namespace vekta::host
