// Tracing of the TikTok requests under the category "TikTok", level 5. Nothing traced here carries
// a token, code, verifier or secret.
#pragma once

#include <exception>
#include <string_view>

#include "talnet/http/RequestProcessor.h"

namespace Vekta {

// Whether "TikTok" level 5 is on; asks the trace facility again only when its configuration changed.
bool TikTokTraceEnabled();
void TraceTikTok(std::string_view text);
// "<handler> Error: <request id>: <message>\r\n"
void TraceHandlerError(std::string_view handler, const talnet::http::RequestID& id, const std::exception& error);

}  // namespace Vekta
