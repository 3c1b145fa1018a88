// Owners of libcurl's handles, so every handle is released on every path from the line it is made.
#pragma once

#include <memory>

#include <curl/curl.h>

namespace talnet::http::detail {

struct EasyCleanup {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
    void operator()(CURLM* multi) const noexcept { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
struct UrlCleanup {
    void operator()(CURLU* url) const noexcept { curl_url_cleanup(url); }
};
struct CurlFree {
    void operator()(char* text) const noexcept { curl_free(text); }
};

using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;
using CurlText = std::unique_ptr<char, CurlFree>;

// Appends `line` to `list`; false (and `list` unchanged) when curl is out of memory.
inline bool AppendHeader(HeaderList& list, const char* line) {
    curl_slist* grown = curl_slist_append(list.get(), line);
    if (!grown) return false;
    (void)list.release();  // `grown` now owns the old nodes too
    list.reset(grown);
    return true;
}

}  // namespace talnet::http::detail
