// The exported entry when the plug-in's name cannot be localised: the host's memory runs out while
// the localiser builds it. A program of its own, because it replaces the global allocator.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "refhost/PluginModule.h"
#include "talcore/config/Localizer.h"

namespace {

// While set on a thread, every allocation of at least kRefusedBytes made on it fails, as it would
// in a host out of memory. Smaller ones still succeed, so only the long name is refused.
thread_local bool refuseLargeAllocations = false;
constexpr std::size_t kRefusedBytes = std::size_t{1} << 20;

}  // namespace

void* operator new(std::size_t size) {
    if (refuseLargeAllocations && size >= kRefusedBytes) throw std::bad_alloc();
    if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
    throw std::bad_alloc();
}
// The replacement new above takes its blocks from malloc, so free is the matching release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }
#pragma GCC diagnostic pop
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }

namespace {

constexpr char kPluginNameKey[] = "$$$/Vekta/PostProcess/TikTok/PluginName";

class LargeAllocationsRefused {
public:
    LargeAllocationsRefused() { refuseLargeAllocations = true; }
    ~LargeAllocationsRefused() { refuseLargeAllocations = false; }
};

class PluginNameTranslation {
public:
    explicit PluginNameTranslation(std::string text) {
        talcore::config::Localizer::Get().InstallTranslations({{kPluginNameKey, std::move(text)}});
    }
    ~PluginNameTranslation() { talcore::config::Localizer::Get().InstallTranslations({}); }
};

TEST(PluginEntry, ANameThatCannotBeLocalisedLeavesDescriptionAndTableAsTheHostGaveThem) {
    std::string error;
    const auto module = vekta::host::PluginModule::Load(VEKTA_PLUGIN_PATH, error);
    ASSERT_TRUE(module) << error;

    // A translation whose UTF-16 form needs more memory than the host can give.
    const PluginNameTranslation tooLong(std::string(kRefusedBytes, 'n'));
    for (const unsigned char fill : {0x00, 0xAB}) {
        SCOPED_TRACE(static_cast<int>(fill));
        PostProcessDescription description;
        std::memset(&description, fill, sizeof description);
        PostProcessCallbacks table;
        std::memset(&table, fill, sizeof table);
        const PostProcessDescription descriptionBefore = description;
        const PostProcessCallbacks tableBefore = table;
        std::int32_t result = -1;
        {
            const LargeAllocationsRefused refused;
            result = module->Entry()(0, 0, 0, &description, &table);
        }
        EXPECT_EQ(result, 0) << "the entry has no failure result";
        EXPECT_EQ(std::memcmp(&table, &tableBefore, sizeof table), 0) << "no callback may be offered";
        EXPECT_EQ(std::memcmp(&description, &descriptionBefore, sizeof description), 0);
    }

    // The host's side: a module that described nothing is not taken.
    {
        const LargeAllocationsRefused refused;
        EXPECT_FALSE(vekta::host::PluginModule::Load(VEKTA_PLUGIN_PATH, error));
    }
    EXPECT_NE(error.find("unsupported description version 0"), std::string::npos) << error;

    // A name the host can afford is written again, and so is the table.
    const PluginNameTranslation shortName("TikTok");
    PostProcessDescription description{};
    PostProcessCallbacks table{};
    table.hostSlot12 = module->Callbacks().hostSlot12;
    {
        const LargeAllocationsRefused refused;
        EXPECT_EQ(module->Entry()(0, 0, 0, &description, &table), 0);
    }
    EXPECT_EQ(description.version, 1u);
    EXPECT_EQ(std::memcmp(&table, &module->Callbacks(), sizeof table), 0);
}

}  // namespace
