#pragma once

namespace talmediatypes {

inline constexpr const char* kMimeType_Video_MP4 = "video/mp4";
inline constexpr const char* kMimeType_Video_QT = "video/quicktime";

}  // namespace talmediatypes
