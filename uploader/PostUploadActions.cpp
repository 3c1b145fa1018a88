#include <stdexcept>

#include "talcore/config/Localizer.h"
#include "talcore/debug/Trace.h"
#include "talcore/filesupport/File.h"
#include "talcore/string/Unicode.h"
#include "uploader/BaseUploader.h"
#include "uploader/UploadRegistries.h"

namespace Vekta {

void BaseUploader::DeleteLocalFilesIfAllowed() {
    if (!deleteLocalFile_) return;
    BusySnapshot busy{};
    DeleteSnapshot deletes{};
    // One decision for every path: the snapshots are not renewed between files.
    TakeRegistrySnapshots(busy, deletes);
    for (const auto& [path, identity] : jobFiles_) {
        try {
            const talcore::filesupport::File file(path, 0);
            if (DeleteRequestRegistry::DeletionAllowed(deletes, busy)) {
                // Whatever was put in the exported file's place since the job took it is not ours.
                if (!identity || file.Identity() != identity) {
                    throw std::runtime_error("the path no longer names the exported file");
                }
                file.Delete();
            }
            DeleteRequestRegistry::SetDeleteRequested(destination_, false);
        } catch (...) {
            talcore::debug::Trace("PostProcessBaseUploader", 5,
                                  "Could not delete file " + talcore::string::UTF16to8(path));
            PostWarning(talcore::config::Localizer::Get().Localize(
                "$$$/Vekta/PostProcess/BaseUploader/DeleteFileFailed=Error deleting exported file after a "
                "successful upload."));
        }
    }
}

}  // namespace Vekta
