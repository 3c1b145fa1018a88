#include <cstring>

#include "plugin/InstanceLookup.h"
#include "plugin/PluginCallbacks.h"
#include "talappsupport/Feature.h"

namespace Vekta {

std::int32_t CheckOutputFormat(HostInstanceRecord* record, const ExportVideoInfo* format) {
    const auto uploader = LookupInstance(record);
    if (!uploader) return kCallbackFailed;
    std::uint32_t fileType = 0;
    if (format)
        std::memcpy(&fileType, reinterpret_cast<const std::uint8_t*>(format) + offsetof(ExportVideoInfo, fileType),
                    sizeof fileType);
    bool supported = false;
    switch (fileType) {
        case VEKTA_FOURCC('H', '2', '6', '4'):
        case VEKTA_FOURCC('H', 'E', 'V', 'C'):
        case VEKTA_FOURCC('M', 'P', 'E', 'G'):
        case VEKTA_FOURCC('M', 'o', 'o', 'V'):
            supported = talappsupport::feature::IsRegulatedFeatureEnabled("tiktok");
            break;
        default:
            break;
    }
    uploader->SetFormatSupported(supported);
    return kCallbackDone;
}

}  // namespace Vekta
