#pragma once

#include <string>

namespace Vekta {

// The post's settings as sent to TikTok (UTF-8).
struct PublishSettings {
    std::string title;
    std::string privacyLevel;
    bool disableComment = false;
    bool disableDuet = false;
    bool disableStitch = false;
};

}  // namespace Vekta
