#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "LoadedPlugin.h"
#include "talcore/config/Localizer.h"

namespace {

using vekta::test::LoadedPlugin;

TEST(PluginModule, ExportsOnlyItsEntryPoint) {
    const std::string command = "nm -D --defined-only '" VEKTA_PLUGIN_PATH "'";
    std::unique_ptr<FILE, decltype(&pclose)> pipe(popen(command.c_str(), "r"), &pclose);
    ASSERT_TRUE(pipe);
    std::string symbols;
    std::array<char, 512> line{};
    while (fgets(line.data(), static_cast<int>(line.size()), pipe.get())) {
        std::istringstream fields(line.data());
        std::string address, type, name;
        fields >> address >> type >> name;
        if (!name.empty()) symbols += name + "\n";
    }
    EXPECT_EQ(symbols, "PostProcessEntry\n");
}

TEST(PluginModule, DescribesItselfAndLeavesSlotTwelveToTheHost) {
    const auto& module = LoadedPlugin();
    EXPECT_TRUE(module.Warnings().empty()) << module.Warnings().front();
    const auto& d = module.Description();
    EXPECT_EQ(d.version, 1u);
    unsigned char bytes[4];
    std::memcpy(bytes, &d.identifier, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "XRVQ");
    EXPECT_EQ(module.IdentifierText(), "QVRX");
    EXPECT_EQ(module.DisplayName(), "TikTok");
}

TEST(PluginModule, DisplayNameIsCutAt255UnitsWithNothingWrittenAfter) {
    const auto& module = LoadedPlugin();
    for (const std::size_t length : {255u, 256u, 300u}) {
        SCOPED_TRACE(length);
        talcore::config::Localizer::Get().InstallTranslations(
            {{"$$$/Vekta/PostProcess/TikTok/PluginName", std::string(length, 'n')}});
        PostProcessDescription description;
        std::memset(&description, 0xAB, sizeof description);
        PostProcessCallbacks table;
        std::memset(&table, 0, sizeof table);
        EXPECT_EQ(module.Entry()(0, 0, 0, &description, &table), 0);
        for (std::size_t i = 0; i < 255; ++i) ASSERT_EQ(description.displayName[i], u'n') << i;
        EXPECT_EQ(description.displayName[255], 0xABAB) << "no terminator is written";
    }
    talcore::config::Localizer::Get().InstallTranslations({});
}

TEST(PluginModule, CallingTheEntryAgainWritesTheSameTable) {
    const auto& module = LoadedPlugin();
    PostProcessDescription description{};
    PostProcessCallbacks table;
    std::memset(&table, 0, sizeof table);
    table.hostSlot12 = &table;
    module.Entry()(1, 2, 3, &description, &table);
    EXPECT_EQ(std::memcmp(&table, &module.Callbacks(), 12 * sizeof(void*)), 0);
    EXPECT_EQ(table.receiveVideoInfo, module.Callbacks().receiveVideoInfo);
    EXPECT_EQ(table.hostSlot12, &table);
}

}  // namespace
