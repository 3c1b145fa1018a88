// Callbacks whose behaviour arrives with the settings and publishing work; until then they answer
// as a plug-in with nothing to do.
#include "plugin/InstanceLookup.h"
#include "plugin/PluginCallbacks.h"

namespace Vekta {

std::int32_t AddParameters(HostInstanceRecord*) { return 0; }

std::int32_t RefreshParameters(HostInstanceRecord* record) { return LookupInstance(record) ? 0 : 1; }

std::int32_t ParameterChanged(HostInstanceRecord* record, const char*) { return LookupInstance(record) ? 0 : 1; }

std::int32_t Execute(HostInstanceRecord* record, std::int32_t selector) {
    if (selector != 5) return 0;
    return LookupInstance(record) ? 0 : 1;
}

}  // namespace Vekta
