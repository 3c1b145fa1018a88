// TikTok's answer to a chunk of the upload, through Publish's transfer and HandleChunkResponse; the
// requests before it get good answers.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/AnsweringProcessor.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::fuzz;
using Vekta::ResultCode;
using Vekta::UploadState;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto answer = AnswerFromInput(data, size);
    const auto& processor = SharedProcessor();
    processor->AnswerWith(Endpoint::Upload, answer);

    auto uploader = MakeSignedInUploader(processor);
    DescribeValidExport(*uploader, 1000);
    FUZZ_CHECK(uploader->Publish(true));

    const HostStatus status = LastHostStatus();
    FUZZ_CHECK(processor->RequestsTo(Endpoint::Upload) == 1);
    if (answer->status >= 200 && answer->status <= 299) {
        FUZZ_CHECK(status.state == UploadState::Succeeded || status.state == UploadState::SucceededWithNotice);
    } else {
        FUZZ_CHECK(status.state == UploadState::Failed);
        FUZZ_CHECK(status.code == (answer->status == talnet::http::kStatusNoResponse ? ResultCode::NoResponse
                                                                                     : ResultCode::UploadFailed));
    }
    return 0;
}
