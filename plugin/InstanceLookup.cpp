#include "plugin/InstanceLookup.h"

#include "settings/HostRecordAccess.h"

namespace Vekta {

talcore::utility::RefCountedPtr<TikTokUploader> LookupInstance(const HostInstanceRecord* record) {
    if (!record) return {};
    auto locked = talcore::utility::RefCountedObjectWithWeakPtr::Lock(ReadInstanceKey(record));
    auto* uploader = dynamic_cast<TikTokUploader*>(locked.Get());
    return talcore::utility::RefCountedPtr<TikTokUploader>(uploader);
}

}  // namespace Vekta
