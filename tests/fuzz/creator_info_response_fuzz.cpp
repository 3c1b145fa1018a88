// TikTok's answer to the creator-info query, through QueryCreatorInfo and
// HandleQueryCreatorInfoResponse; the token refresh before it gets a good answer.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/AnsweringProcessor.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto answer = AnswerFromInput(data, size);
    const auto& processor = SharedProcessor();
    processor->AnswerWith(Endpoint::CreatorInfo, answer);

    auto uploader = MakeSignedInUploader(processor);
    bool called = false;
    Vekta::TikTokCreatorInfo seen;
    FUZZ_CHECK(uploader->QueryCreatorInfo([&](const Vekta::TikTokCreatorInfo& info) {
        called = true;
        seen = info;
    }));
    FUZZ_CHECK(called);
    // Any other status leaves the facts of no account as they were.
    if (answer->status != 200) {
        FUZZ_CHECK(!seen.privateAccount && !seen.commentDisabled && !seen.duetDisabled && !seen.stitchDisabled);
        FUZZ_CHECK(seen.maxVideoPostDurationSec == 0 && seen.creatorNickname.empty());
    }
    FUZZ_CHECK(uploader->HasCredentials());
    return 0;
}
