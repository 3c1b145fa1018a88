// The exported callbacks: each one turns the host's call into one call of the plug-in and catches
// everything, so that no exception ever reaches the host.
#include "plugin/CallbackTable.h"

#include <exception>
#include <string>

#include "plugin/InstanceCallbacks.h"
#include "plugin/PluginCallbacks.h"
#include "talcore/debug/Trace.h"

namespace Vekta {
namespace {

template <class Body>
std::int32_t Guarded(const char* name, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception& e) {
        try {
            talcore::debug::Trace("TikTok", 1, std::string(name) + " failed: " + e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            talcore::debug::Trace("TikTok", 1, std::string(name) + " failed");
        } catch (...) {
        }
    }
    return kCallbackFailed;
}

std::int32_t OnCreateInstance(HostInstanceRecord* record, PostProcessStatusCallback status,
                              AccountStatusCallback account) noexcept {
    return Guarded("CreateInstance", [&] { return CreateInstance(record, status, account); });
}
std::int32_t OnDestroyInstance(HostInstanceRecord* record) noexcept {
    // Destroying never fails from the host's point of view.
    Guarded("DestroyInstance", [&] { return DestroyInstance(record); });
    return kCallbackDone;
}
std::int32_t OnAddParameters(HostInstanceRecord* record) noexcept {
    return Guarded("AddParameters", [&] { return AddParameters(record); });
}
std::int32_t OnQueryHasCredentials(HostInstanceRecord* record, std::uint8_t* hasCredentials) noexcept {
    return Guarded("QueryHasCredentials", [&] { return QueryHasCredentials(record, hasCredentials); });
}
std::int32_t OnRefreshParameters(HostInstanceRecord* record) noexcept {
    return Guarded("RefreshParameters", [&] { return RefreshParameters(record); });
}
std::int32_t OnParameterChanged(HostInstanceRecord* record, const char* parameterID) noexcept {
    return Guarded("ParameterChanged", [&] { return ParameterChanged(record, parameterID); });
}
std::int32_t OnReceiveOutputFiles(HostInstanceRecord* record, std::uint64_t, std::uint64_t, std::uint32_t count,
                                  const OutputFileEntry* entries) noexcept {
    return Guarded("ReceiveOutputFiles", [&] { return ReceiveOutputFiles(record, count, entries); });
}
std::int32_t OnExecute(HostInstanceRecord* record, std::int32_t selector) noexcept {
    return Guarded("Execute", [&] { return Execute(record, selector); });
}
std::int32_t OnNoOperation(HostInstanceRecord*) noexcept { return kCallbackDone; }
std::int32_t OnCheckOutputFormat(HostInstanceRecord* record, const ExportVideoInfo* format) noexcept {
    return Guarded("CheckOutputFormat", [&] { return CheckOutputFormat(record, format); });
}
std::int32_t OnSendCommand(HostInstanceRecord* record, std::uint32_t command) noexcept {
    return Guarded("SendCommand", [&] { return SendCommand(record, command); });
}
std::int32_t OnQueryStatus(HostInstanceRecord* record) noexcept {
    return Guarded("QueryStatus", [&] { return QueryStatus(record); });
}
std::int32_t OnReceiveVideoInfo(HostInstanceRecord* record, const ExportVideoInfo* info) noexcept {
    return Guarded("ReceiveVideoInfo", [&] { return ReceiveVideoInfo(record, info); });
}

}  // namespace

void FillCallbackTable(PostProcessCallbacks& table) {
    table.createInstance = &OnCreateInstance;
    table.destroyInstance = &OnDestroyInstance;
    table.addParameters = &OnAddParameters;
    table.queryHasCredentials = &OnQueryHasCredentials;
    table.refreshParameters = &OnRefreshParameters;
    table.parameterChanged = &OnParameterChanged;
    table.receiveOutputFiles = &OnReceiveOutputFiles;
    table.execute = &OnExecute;
    table.noOperation = &OnNoOperation;
    table.checkOutputFormat = &OnCheckOutputFormat;
    table.sendCommand = &OnSendCommand;
    table.queryStatus = &OnQueryStatus;
    table.receiveVideoInfo = &OnReceiveVideoInfo;
}

}  // namespace Vekta
