// TikTok's answer to the user-info query, through RequestUserInfo and HandleUserInfoResponse.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/AnsweringProcessor.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto answer = AnswerFromInput(data, size);
    const auto& processor = SharedProcessor();
    processor->AnswerWith(Endpoint::UserInfo, answer);

    auto uploader = MakeUploader(processor);
    uploader->RequestUserInfo();
    if (answer->status != 200) FUZZ_CHECK(uploader->GetProfileDeepLink().empty());
    FUZZ_CHECK(processor->RequestsTo(Endpoint::UserInfo) == 1);
    return 0;
}
