// The plug-in's code linked into the test program: the callback table the module would hand out,
// and the uploader behind a harness's record, for tests that shorten its time limits or look at
// its abort flag.
#pragma once

#include "../PublishTestSupport.h"
#include "plugin/CallbackTable.h"
#include "plugin/InstanceLookup.h"

namespace vekta::test {

inline const PostProcessCallbacks& LinkedTable() {
    static const PostProcessCallbacks table = [] {
        PostProcessCallbacks filled{};
        Vekta::FillCallbackTable(filled);
        return filled;
    }();
    return table;
}

inline talcore::utility::RefCountedPtr<Vekta::TikTokUploader> Uploader(PluginHarness& h) {
    return Vekta::LookupInstance(&h.Record());
}

}  // namespace vekta::test
