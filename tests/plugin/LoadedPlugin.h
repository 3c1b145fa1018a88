#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "refhost/PluginModule.h"

namespace vekta::test {

// The module under test, loaded once per process through the system's loader, as the host does.
inline const host::PluginModule& LoadedPlugin() {
    static std::unique_ptr<host::PluginModule> module = [] {
        std::string error;
        auto loaded = host::PluginModule::Load(VEKTA_PLUGIN_PATH, error);
        if (!loaded) ADD_FAILURE() << "cannot load the module: " << error;
        return loaded;
    }();
    if (!module) throw std::runtime_error("module not loaded");
    return *module;
}

}  // namespace vekta::test
