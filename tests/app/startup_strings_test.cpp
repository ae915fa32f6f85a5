// The start-up message texts: direct loads in the user's language, English when it has no table.
#include <gtest/gtest.h>

#include "app/startup_strings.h"
#include "util/resources.h"

namespace {

TEST(StartupStrings, ReadTheUsersTableWithThePlaceholderKept) {
    const std::wstring english152 = util::LoadStringForLanguage(152, 1033);
    ASSERT_EQ(english152.rfind(L"Another installation process is running at the moment.", 0), 0u);
    EXPECT_EQ(app::StartupString(app::kStringAnotherInstance, 1033), english152);
    EXPECT_EQ(app::StartupString(app::kStringCommonRuntimeNeeded, 1033),
              L"Couldn't uninstall [AppName]. You still have Velmo applications installed on your computer that "
              L"require it.");
    // English (United Kingdom) has no table: the message box still says something.
    EXPECT_EQ(app::StartupString(app::kStringAnotherInstance, 2057), english152);
    EXPECT_EQ(app::StartupString(70000, 1033), L"");
    for (std::uint16_t lang : util::StringTableLanguages()) {
        const std::wstring text = app::StartupString(app::kStringCommonRuntimeNeeded, lang);
        EXPECT_NE(text.find(L"[AppName]"), std::wstring::npos) << lang;
        if (lang != 1033) {
            EXPECT_NE(app::StartupString(app::kStringAnotherInstance, lang), english152) << lang;
        }
    }
}

}  // namespace
