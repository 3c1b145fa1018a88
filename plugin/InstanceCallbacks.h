// The callbacks that create, find and release the instance and forward to it. Each returns the
// host's result code; exceptions are caught by the exported trampolines.
#pragma once

#include <cstdint>

#include "PostProcessSDK.h"

namespace Vekta {

std::int32_t CreateInstance(HostInstanceRecord* record, PostProcessStatusCallback status,
                            AccountStatusCallback account);
std::int32_t DestroyInstance(HostInstanceRecord* record);
std::int32_t QueryHasCredentials(HostInstanceRecord* record, std::uint8_t* hasCredentials);
std::int32_t ReceiveOutputFiles(HostInstanceRecord* record, std::uint32_t count, const OutputFileEntry* entries);
std::int32_t SendCommand(HostInstanceRecord* record, std::uint32_t command);
std::int32_t QueryStatus(HostInstanceRecord* record);
std::int32_t ReceiveVideoInfo(HostInstanceRecord* record, const ExportVideoInfo* info);

}  // namespace Vekta
