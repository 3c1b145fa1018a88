// TikTok's answer to the code exchange and to a refresh, through the uploader's own request and
// HandleTokenResponse. The first byte picks the grant; the rest makes the answer.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tests/fuzz/AnsweringProcessor.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool codeExchange = (data[0] & 1) != 0;
    const auto answer = AnswerFromInput(data + 1, size - 1);
    const bool ok = answer->status == 200;
    const bool refusal = ok && answer->body.find("error") != std::string::npos;
    const auto& processor = SharedProcessor();
    processor->AnswerWith(Endpoint::Token, answer);

    auto uploader = MakeUploader(processor);
    if (codeExchange) {
        uploader->FetchRefreshToken("code.fuzz", "http://127.0.0.1:55980/VektaAuthTikTok");
        // Only a 200 answer without an error can sign anybody in.
        if (!ok || refusal) FUZZ_CHECK(!uploader->HasCredentials());
    } else {
        uploader->SetRefreshToken(u"rft.before");
        const bool refreshed = uploader->RefreshAccessToken();
        // Another status keeps the account signed in; a refusal signs it out.
        if (!ok) FUZZ_CHECK(!refreshed && uploader->HasCredentials());
        if (refusal) FUZZ_CHECK(!refreshed && !uploader->HasCredentials());
    }
    FUZZ_CHECK(processor->RequestsTo(Endpoint::Token) == 1);
    return 0;
}
