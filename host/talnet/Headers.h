// Standard header names and media types.
#pragma once

namespace talnet {

inline constexpr const char* kHEADER_AUTHORIZATION = "Authorization";
inline constexpr const char* kHEADER_CONTENT_TYPE = "Content-Type";
inline constexpr const char* kHEADER_CONTENT_LENGTH = "Content-Length";
inline constexpr const char* kHEADER_CONTENT_RANGE = "Content-Range";
inline constexpr const char* kHEADER_CONTENT_TYPE_APPLICATION_WWW_FORM_URLENCODED = "application/x-www-form-urlencoded";
inline constexpr const char* kHEADER_CONTENT_TYPE_APPLICATION_JSON_UTF_8 = "application/json; charset=UTF-8";

}  // namespace talnet
