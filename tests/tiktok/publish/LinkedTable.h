// The plug-in's callback table, linked into the test program itself (not loaded as the module), so
// tests can reach the uploader behind a record.
#pragma once

#include "PostProcessSDK.h"
#include "plugin/CallbackTable.h"

namespace vekta::test {

inline const PostProcessCallbacks& LinkedTable() {
    static const PostProcessCallbacks table = [] {
        PostProcessCallbacks filled{};
        Vekta::FillCallbackTable(filled);
        return filled;
    }();
    return table;
}

}  // namespace vekta::test
