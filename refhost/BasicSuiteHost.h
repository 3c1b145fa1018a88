// The reference host's basic suite: the door through which a plug-in acquires the export-parameter
// suite. Process-wide, like the suites it hands out.
#pragma once

#include <cstdint>

#include "PostProcessSDK.h"

namespace vekta::host {

// [any-thread] Writes the export-parameter suite to *suite and returns 0 for exactly
// ("Tessel Export Param Suite", 7) while the suite is available; otherwise writes null (when
// `suite` is not null) and returns a negative value.
std::int32_t AcquireSuite(const char* name, std::int32_t version, const void** suite) noexcept;

// [any-thread] The basic suite. Its address is what HostInstanceRecord.getBasicSuite returns; use
// GetBasicSuite itself as that accessor.
const BasicSuite* GetBasicSuite() noexcept;
inline constexpr BasicSuiteAccessor kBasicSuiteAccessor = &GetBasicSuite;

// For tests: while unavailable, AcquireSuite refuses the export-parameter suite, so a callback's
// "no suite" path can be driven.
void SetExportParamSuiteAvailable(bool available) noexcept;
bool IsExportParamSuiteAvailable() noexcept;

// Makes the suite unavailable for the life of the object and restores the previous state after.
class ScopedExportParamSuiteUnavailable {
public:
    ScopedExportParamSuiteUnavailable() noexcept : wasAvailable_(IsExportParamSuiteAvailable()) {
        SetExportParamSuiteAvailable(false);
    }
    ~ScopedExportParamSuiteUnavailable() { SetExportParamSuiteAvailable(wasAvailable_); }
    ScopedExportParamSuiteUnavailable(const ScopedExportParamSuiteUnavailable&) = delete;
    ScopedExportParamSuiteUnavailable& operator=(const ScopedExportParamSuiteUnavailable&) = delete;

private:
    bool wasAvailable_;
};

}  // namespace vekta::host
