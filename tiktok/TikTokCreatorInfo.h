#pragma once

#include <cstdint>
#include <string>

namespace Vekta {

// What the signed-in creator may do, from the creator-info query.
struct TikTokCreatorInfo {
    bool privateAccount = false;
    bool commentDisabled = false;
    bool duetDisabled = false;
    bool stitchDisabled = false;
    std::int32_t maxVideoPostDurationSec = 0;
    std::u16string creatorNickname;
};

}  // namespace Vekta
