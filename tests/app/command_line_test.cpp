#include "app/command_line.h"

#include <gtest/gtest.h>

#include "platform/clipboard.h"
#include "support/temp_machine.h"

namespace {

struct Parsed {
    util::LaunchOptions o;
    std::vector<std::wstring> excluded;
};

Parsed Parse(const std::wstring& commandLine) {
    Parsed p;
    app::ParseCommandLine(L"\"C:\\Users\\u\\Downloads\\VelmoInstaller.exe\" " + commandLine, p.o, p.excluded);
    return p;
}

class CommandLine : public velmo_test::MachineTest {};

TEST_F(CommandLine, DefaultsWithoutOptions) {
    Parsed p = Parse(L"");
    EXPECT_FALSE(p.o.uninstallMode);
    EXPECT_FALSE(p.o.silent);
    EXPECT_TRUE(p.o.selfUpdate);
    EXPECT_TRUE(p.o.useFileAssociations);
    EXPECT_TRUE(p.o.singleInstanceCheck);
    EXPECT_EQ(p.o.installId, L"hearthview2024");
}

TEST_F(CommandLine, BothSpellingsInAnyCaseBehaveAlike) {
    for (const wchar_t* token : {L"silent", L"/silent", L"/SILENT", L"SiLeNt"}) {
        Parsed p = Parse(token);
        EXPECT_TRUE(p.o.silent) << token;
        EXPECT_TRUE(p.o.acceptLicence) << token;
        EXPECT_FALSE(p.o.selfUpdate) << token;
    }
}

TEST_F(CommandLine, OptionsAndTheirEffects) {
    struct Case {
        const wchar_t* line;
        bool (*check)(const util::LaunchOptions&);
    } cases[] = {
        {L"/accepteula", [](const util::LaunchOptions& o) { return o.acceptLicence && !o.silent; }},
        {L"/autoupdate", [](const util::LaunchOptions& o) { return o.autoUpdateConsent; }},
        {L"/apptracking", [](const util::LaunchOptions& o) { return !o.silent && o.selfUpdate; }},
        {L"/noext", [](const util::LaunchOptions& o) { return !o.useFileAssociations; }},
        {L"/nodesktopshortcut", [](const util::LaunchOptions& o) { return o.noDesktopShortcut; }},
        {L"/noselfupdate", [](const util::LaunchOptions& o) { return !o.selfUpdate; }},
        {L"/nomutexcheck", [](const util::LaunchOptions& o) { return !o.singleInstanceCheck; }},
        {L"/installid velmocore2024", [](const util::LaunchOptions& o) { return o.installId == L"velmocore2024"; }},
        {L"/installid", [](const util::LaunchOptions& o) { return o.installId == L"hearthview2024"; }},
        {L"/installpath \"D:\\My Apps\"", [](const util::LaunchOptions& o) { return o.installPath == L"D:\\My Apps"; }},
        {L"/installpath /home/u/apps", [](const util::LaunchOptions& o) { return o.installPath == L"Z:\\home\\u\\apps"; }},
        {L"/daemon 1234abc", [](const util::LaunchOptions& o) { return o.daemon && o.silent && o.parentWindow == 1234; }},
        {L"/daemon", [](const util::LaunchOptions& o) { return o.daemon && o.silent && o.parentWindow == 0; }},
        {L"/uninstall \"Velmo Hub\"",
         [](const util::LaunchOptions& o) { return o.uninstallMode && !o.selfUpdate && o.productSpecification == L"Velmo Hub"; }},
        {L"/uninstall", [](const util::LaunchOptions& o) { return o.uninstallMode && o.productSpecification.empty(); }},
        {L"/uninstall \"\"", [](const util::LaunchOptions& o) { return o.uninstallMode && o.productSpecification.empty(); }},
        {L"/uninstall all /install x", [](const util::LaunchOptions& o) { return !o.uninstallMode && o.productSpecification == L"x"; }},
        {L"/install", [](const util::LaunchOptions& o) { return !o.uninstallMode && o.productSpecification.empty(); }},
        {L"/install \"{\\\"a\\\":\\\"b c\\\"}\"",
         [](const util::LaunchOptions& o) { return o.productSpecification == L"{\"a\":\"b c\"}"; }},
        {L"/installid first /installid second", [](const util::LaunchOptions& o) { return o.installId == L"second"; }},
        {L"/installid /silent", [](const util::LaunchOptions& o) { return o.installId == L"/silent" && !o.silent; }},
        {L"--silent", [](const util::LaunchOptions& o) { return !o.silent; }},
        {L"/silent=yes", [](const util::LaunchOptions& o) { return !o.silent; }},
        {L"/installpath \"C:\\x\" /installid", [](const util::LaunchOptions& o) { return o.installPath == L"C:\\x"; }},
    };
    for (const auto& c : cases) EXPECT_TRUE(c.check(Parse(c.line).o)) << c.line;
}

TEST_F(CommandLine, ValueOptionAtTheEndStopsParsing) {
    Parsed p = Parse(L"/installid /noext");  // /noext is the value, not an option
    EXPECT_EQ(p.o.installId, L"/noext");
    EXPECT_TRUE(p.o.useFileAssociations);
}

TEST_F(CommandLine, ExcludeAppAddsPrefixedLowerCaseNames) {
    Parsed p = Parse(L"/excludeapp \" MediaServer , velmoHearthview,, \"");
    EXPECT_EQ(p.excluded, (std::vector<std::wstring>{L"velmomediaserver", L"velmoHearthview"}));
    EXPECT_TRUE(Parse(L"/excludeapp \"\"").excluded.empty());
    EXPECT_EQ(Parse(L"/excludeapp a /excludeapp b").excluded, (std::vector<std::wstring>{L"velmoa", L"velmob"}));
}

TEST_F(CommandLine, GuideHandOverIsTakenFromTheClipboardOnlyWhenTagged) {
    const std::wstring tagged =
        L"{\"howtoTag\":\"D41E07A9-C6F2-4B1D-9E5A-71C3F0B8D26E\",\"appName\":\"Hearthview\",\"usecaseId\":\"u7\","
        L"\"startApp\":\"yes\",\"other\":1}";
    ASSERT_TRUE(platform::SetClipboardText(tagged));
    Parsed p = Parse(L"");
    EXPECT_EQ(p.o.guideAppName, L"Hearthview");
    EXPECT_EQ(p.o.guideUseCase, L"u7");
    EXPECT_EQ(p.o.guideStartApp, L"yes");
    std::wstring after;
    ASSERT_TRUE(platform::GetClipboardText(after));
    EXPECT_EQ(after, L"") << "the clipboard is emptied after the hand-over";

    // Silent and uninstall runs never look at the clipboard.
    ASSERT_TRUE(platform::SetClipboardText(tagged));
    EXPECT_EQ(Parse(L"/silent").o.guideAppName, L"");
    EXPECT_EQ(Parse(L"/uninstall all").o.guideAppName, L"");
    ASSERT_TRUE(platform::GetClipboardText(after));
    EXPECT_EQ(after, tagged);
}

TEST_F(CommandLine, ClipboardThatIsNotTheTaggedObjectIsLeftAlone) {
    const wchar_t* texts[] = {
        L"{\"howtoTag\":\"d41e07a9-c6f2-4b1d-9e5a-71c3f0b8d26e\",\"appName\":\"x\"}",  // tag differs in case
        L"{\"appName\":\"x\"}",
        L"[1,2]",
        L"not json",
        L"{\"howtoTag\":42}",
    };
    for (const wchar_t* text : texts) {
        ASSERT_TRUE(platform::SetClipboardText(text));
        Parsed p = Parse(L"");
        EXPECT_EQ(p.o.guideAppName, L"") << text;
        std::wstring after;
        ASSERT_TRUE(platform::GetClipboardText(after));
        EXPECT_EQ(after, text);
    }
    // Members of the wrong type count as absent.
    ASSERT_TRUE(platform::SetClipboardText(L"{\"howtoTag\":\"D41E07A9-C6F2-4B1D-9E5A-71C3F0B8D26E\",\"appName\":5,\"usecaseId\":\"u\"}"));
    Parsed p = Parse(L"");
    EXPECT_EQ(p.o.guideAppName, L"");
    EXPECT_EQ(p.o.guideUseCase, L"u");
}

}  // namespace
