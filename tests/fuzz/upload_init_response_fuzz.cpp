// TikTok's answer to the upload initialisation, a direct post or an inbox upload, through Publish
// and HandleUploadInitializationResponse; the other requests of the job get good answers. The
// first byte picks the kind of upload; the rest makes the answer.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/AnsweringProcessor.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace vekta::fuzz;
using Vekta::ResultCode;
using Vekta::UploadState;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool directPost = (data[0] & 1) != 0;
    const Endpoint init = directPost ? Endpoint::DirectPostInit : Endpoint::InboxInit;
    const auto answer = AnswerFromInput(data + 1, size - 1);
    const auto& processor = SharedProcessor();
    processor->AnswerWith(init, answer);

    auto uploader = MakeSignedInUploader(processor);
    DescribeValidExport(*uploader, 1000);
    const bool handedOver = uploader->Publish(directPost);

    // Whatever the answer, the job has ended, and nothing was sent without an upload address.
    const HostStatus status = LastHostStatus();
    FUZZ_CHECK(uploader->GetState() != UploadState::Uploading && status.state != UploadState::Uploading);
    FUZZ_CHECK(processor->RequestsTo(init) == 1);
    FUZZ_CHECK(processor->RequestsTo(Endpoint::Upload) == (handedOver ? 1u : 0u));
    if (answer->status != 200) {
        FUZZ_CHECK(!handedOver);
        FUZZ_CHECK(status.state == UploadState::Failed && status.code == ResultCode::UploadFailed);
    }
    return 0;
}
