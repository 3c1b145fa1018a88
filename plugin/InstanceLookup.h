#pragma once

#include "PostProcessSDK.h"
#include "talcore/utility/RefCounted.h"
#include "tiktok/TikTokUploader.h"

namespace Vekta {

// [any-thread] The instance behind `record`, held for the caller; empty for a null record, or a
// stale, foreign or zero key, or an object of another class.
talcore::utility::RefCountedPtr<TikTokUploader> LookupInstance(const HostInstanceRecord* record);

}  // namespace Vekta
