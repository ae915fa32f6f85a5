// The embedded resources: lookup rules, images, the icon group, the version block and the
// product table.
#include <gtest/gtest.h>

#include <set>

#include "platform/errors.h"
#include "platform/thread_language.h"
#include "platform/version_info.h"
#include "support/temp_machine.h"
#include "util/resources.h"

namespace {

struct PngSize {
    std::uint32_t width = 0, height = 0;
};

PngSize SizeOfPng(std::string_view png) {
    auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(png[at + i]);
        return v;
    };
    if (png.size() < 24 || png.substr(0, 8) != std::string_view("\x89PNG\r\n\x1a\n", 8) || png.substr(12, 4) != "IHDR")
        return {};
    return {be32(16), be32(20)};
}

TEST(EmbeddedResources, PngImagesHaveTheSizesTheControlsDrawThemAt) {
    const struct {
        std::uint16_t id;
        std::uint32_t width, height;
    } cases[] = {{213, 20, 20},   {214, 20, 20},   {215, 20, 20},   {216, 20, 20},  {368, 20, 20},
                 {235, 24, 24},   {236, 24, 24},   {237, 24, 24},   {238, 24, 24},  {320, 1280, 400},
                 {322, 1280, 400}, {359, 1280, 400}, {360, 75, 75}, {312, 500, 80}};
    for (const auto& c : cases) {
        const util::ResourceData png = util::FindResourceEx(util::kResourcePng, c.id, util::LANG_NEUTRAL);
        ASSERT_TRUE(png) << c.id;
        const PngSize size = SizeOfPng(png.Bytes());
        EXPECT_EQ(size.width, c.width) << c.id;
        EXPECT_EQ(size.height, c.height) << c.id;
    }
    // The check-box states are five different pictures, and so are the arrows.
    std::set<std::string_view> distinct;
    for (std::uint16_t id : {213, 214, 215, 216, 368, 235, 236, 237, 238})
        distinct.insert(util::FindResourceEx("png", id, 0).Bytes());
    EXPECT_EQ(distinct.size(), 9u);
}

TEST(EmbeddedResources, MissingResourcesSayWhatIsMissing) {
    const struct {
        util::ResourceType type;
        std::uint16_t id, lang;
        platform::DWORD error;
    } cases[] = {
        {"BITMAP", 320, 0, util::ERROR_RESOURCE_TYPE_NOT_FOUND},
        {util::kResourcePng, 999, 0, util::ERROR_RESOURCE_NAME_NOT_FOUND},
        {util::kResourcePng, 320, 1033, util::ERROR_RESOURCE_LANG_NOT_FOUND},
        {util::RT_STRING, 9, 2057, util::ERROR_RESOURCE_LANG_NOT_FOUND},
    };
    for (const auto& c : cases) {
        platform::SetLastError(0);
        EXPECT_FALSE(util::FindResourceEx(c.type, c.id, c.lang)) << c.id;
        EXPECT_EQ(platform::GetLastError(), c.error) << c.id;
    }
}

class ResourceLanguage : public velmo_test::MachineTest {
    void TearDown() override { platform::SetThreadUILanguage(0); }
};

TEST_F(ResourceLanguage, FindResourcePrefersTheThreadLanguageThenNeutralThenEnglish) {
    // String bundle 9 (ids 128-143) exists in every table.
    platform::SetThreadUILanguage(1033);
    EXPECT_EQ(util::FindResource(util::RT_STRING, 9).langId, 1033);
    platform::SetThreadUILanguage(2057);
    EXPECT_EQ(util::FindResource(util::RT_STRING, 9).langId, 1033);
    EXPECT_EQ(util::FindResource(util::kResourcePng, 320).langId, util::LANG_NEUTRAL);
    const std::vector<std::uint16_t> langs = util::ResourceLanguages(util::RT_STRING, 9);
    EXPECT_EQ(langs, util::StringTableLanguages());
    for (std::uint16_t lang : langs) {
        platform::SetThreadUILanguage(lang);
        EXPECT_EQ(util::FindResource(util::RT_STRING, 9).langId, lang);
    }
}

TEST(EmbeddedResources, IconGroup128HoldsSquarePngImagesFromSmallToLarge) {
    const std::vector<util::IconImage> images = util::LoadIconGroup(128);
    ASSERT_GE(images.size(), 4u);
    std::set<std::uint32_t> sizes;
    for (const util::IconImage& image : images) {
        const PngSize size = SizeOfPng(image.png);
        EXPECT_EQ(size.width, image.width);
        EXPECT_EQ(size.height, image.height);
        EXPECT_EQ(image.width, image.height);
        sizes.insert(image.width);
    }
    for (std::uint32_t wanted : {16u, 32u, 48u, 256u}) EXPECT_TRUE(sizes.count(wanted)) << wanted;
    EXPECT_TRUE(util::LoadIconGroup(129).empty());
}

TEST(EmbeddedResources, VersionBlockIsTheInstallersVersionResource) {
    const util::ResourceData block = util::FindResourceEx(util::RT_VERSION, 1, 1033);
    ASSERT_TRUE(block);
    platform::VersionInfo info;
    ASSERT_TRUE(platform::ParseVersionBlock(std::string(block.Bytes()), info));
    EXPECT_EQ(info.FileVersionText(), L"2.0.1.50");
    EXPECT_EQ(util::ResourceLanguages(util::RT_VERSION, 1), std::vector<std::uint16_t>{1033});
}

TEST(EmbeddedResources, ProductTableNamesEighteenProductsWithTheirDescriptions) {
    const std::vector<util::SuiteProduct> products = util::SuiteProducts();
    ASSERT_EQ(products.size(), 18u);
    std::set<std::uint16_t> ids;
    std::size_t prefixes = 0;
    for (const util::SuiteProduct& p : products) {
        ids.insert(p.descriptionId);
        prefixes += p.prefixMatch;
        const std::wstring description = util::LoadStringForLanguage(p.descriptionId, 1033);
        EXPECT_EQ(description.rfind(std::wstring(p.name), 0), 0u) << p.descriptionId;
    }
    std::set<std::uint16_t> expected = {378, 379};
    for (std::uint16_t id = 329; id <= 344; ++id) expected.insert(id);
    EXPECT_EQ(ids, expected);
    EXPECT_EQ(prefixes, 2u);
}

TEST(EmbeddedResources, ShortcutNamesFindTheirDescriptionExactlyOrByPrefix) {
    const struct {
        const wchar_t* name;
        std::uint16_t id;
    } cases[] = {{L"Velmo Hearthview", 329}, {L"Velmo Hub", 336},          {L"Velmo Hubs", 0},
                 {L"velmo hub", 0},          {L"Velmo Content Pack 3", 378}, {L"Velmo Themes", 379},
                 {L"Velmo", 0},              {L"", 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(util::ProductDescriptionId(c.name), c.id);
    }
}

}  // namespace
