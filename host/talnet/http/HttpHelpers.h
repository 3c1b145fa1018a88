#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "talcore/TalExport.h"
#include "talcore/serialization/JSON.h"
#include "talcore/threads/Gate.h"
#include "talnet/http/RequestProcessor.h"

namespace talnet::http {

// [any-thread] Waits up to `timeoutSeconds` for `gate`, looking every `pollMilliseconds`; true when
// it opened in time.
TAL_API bool PassGateTimeout(talcore::threads::Gate& gate, int timeoutSeconds, int pollMilliseconds);
TAL_API bool PassGateTimeout(const std::shared_ptr<talcore::threads::Gate>& gate, int timeoutSeconds,
                             int pollMilliseconds);

// application/x-www-form-urlencoded text of the pairs, in order: unreserved characters
// (A-Z a-z 0-9 - . _ ~) kept, space as "+", every other byte as %XX; pairs joined by "&".
TAL_API std::string QuoteURL(const std::vector<std::pair<std::string, std::string>>& pairs);

// The body of `response` as UTF-8 text.
TAL_API std::string HandleBody(const RequestID& id, const Response& response);
TAL_API std::string HandleBody(const RequestID& id, const std::shared_ptr<Response>& response);

// The string member `key` of a JSON object, as UTF-16. Throws std::bad_any_cast when `object` is not
// an object or the member is missing or not a string.
TAL_API std::u16string GetItemFor(const talcore::serialization::JSONNode& object, std::string_view key);

}  // namespace talnet::http
