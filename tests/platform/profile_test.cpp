// The machine profile: host defaults, the JSON file, the member texts people set, the cache.
#include <pwd.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/machine.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "support/temp_machine.h"

using namespace platform;
using nlohmann::json;

namespace {

class MachineProfileTest : public velmo_test::MachineTest {
protected:
    void WriteProfileFile(const std::string& text) {
        std::ofstream(machine_.root() / "profile.json") << text;
        UseMachine(machine_.root());  // drops the cached profile, as a new process would start
    }
};

TEST_F(MachineProfileTest, DefaultsDescribeWindows10On64BitWithTheHostsFacts) {
    const MachineProfile& p = CurrentProfile();
    EXPECT_EQ(p.majorVersion, 10u);
    EXPECT_EQ(p.minorVersion, 0u);
    EXPECT_EQ(p.buildNumber, 19045u);
    EXPECT_EQ(p.servicePack, 0u);
    EXPECT_TRUE(p.is64Bit);
    EXPECT_EQ(p.uiLanguage, 1033);
    EXPECT_FALSE(p.domain.has_value());
    EXPECT_TRUE(p.gpus.empty());
    EXPECT_TRUE(p.hotfixes.empty());
    EXPECT_FALSE(p.windowsUpdateBusy);
    EXPECT_TRUE(p.freeSpaceBytes.empty());
    const passwd* pw = ::getpwuid(::geteuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(p.userName, WideFromUtf8(pw->pw_name));
    EXPECT_GT(p.memoryMB, 0u);

    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string all((std::istreambuf_iterator<char>(cpuinfo)), std::istreambuf_iterator<char>());
    if (all.find("model name") != std::string::npos) {
        EXPECT_FALSE(p.cpuBrand.empty());
        EXPECT_NE(all.find(Utf8FromWide(p.cpuBrand)), std::string::npos);
    }
    if (all.find("vendor_id") != std::string::npos) {
        EXPECT_NE(all.find(Utf8FromWide(p.cpuVendor)), std::string::npos);
    }
    EXPECT_EQ(p.sse41, all.find(" sse4_1") != std::string::npos);
}

TEST_F(MachineProfileTest, SavedProfileReadsBackWithEveryMember) {
    MachineProfile p = CurrentProfile();
    p.majorVersion = 6;
    p.minorVersion = 1;
    p.buildNumber = 7601;
    p.servicePack = 1;
    p.is64Bit = false;
    p.uiLanguage = 0x0407;
    p.userName = L"J\u00fcrgen";
    p.domain = L"corp.example";
    p.memoryMB = 4096;
    p.cpuBrand = L"Test CPU @ 1.00GHz";
    p.cpuVendor = L"AuthenticAMD";
    p.sse41 = false;
    p.sse42 = false;
    p.sse4a = true;
    p.gpus = {GpuInfo{L"Velmo Graphics", 0x1C82, 256}, GpuInfo{L"Second", 7, 0}};
    p.hotfixes = {L"KB2533623", L"KB3063858"};
    p.windowsUpdateBusy = true;
    p.freeSpaceBytes = {{L'C', 2000000000}};
    p.totalSpaceBytes = {{L'C', 64000000000}, {L'D', 1}};
    const std::string expected = ProfileToJson(p);
    ASSERT_TRUE(SaveMachineProfile(p));
    EXPECT_EQ(ProfileToJson(CurrentProfile()), expected);  // the save dropped the cache
    UseMachine(machine_.root());
    EXPECT_EQ(ProfileToJson(CurrentProfile()), expected);  // and the file holds it all

    json doc = json::parse(expected);
    EXPECT_EQ(doc["windowsVersion"], "6.1.7601");
    EXPECT_EQ(doc["uiLanguage"], 1031);
    EXPECT_EQ(doc["gpus"][0]["deviceId"], 0x1C82);
    EXPECT_EQ(doc["freeSpaceBytes"]["C"], 2000000000u);
}

TEST_F(MachineProfileTest, FileMembersOfTheWrongTypeCountAsAbsent) {
    WriteProfileFile(R"({"is64Bit": "no", "windowsVersion": "6.3.9600", "uiLanguage": 70000,
                        "userName": 5, "memoryMB": -1, "gpus": {"x": 1},
                        "freeSpaceBytes": {"C": 100, "CD": 5, "E": "lots"}, "domain": null})");
    const MachineProfile& p = CurrentProfile();
    const MachineProfile d = DefaultMachineProfile();
    EXPECT_TRUE(p.is64Bit);
    EXPECT_EQ(p.majorVersion, 6u);
    EXPECT_EQ(p.minorVersion, 3u);
    EXPECT_EQ(p.buildNumber, 9600u);
    EXPECT_EQ(p.uiLanguage, 1033);
    EXPECT_EQ(p.userName, d.userName);
    EXPECT_EQ(p.memoryMB, d.memoryMB);
    EXPECT_TRUE(p.gpus.empty());
    EXPECT_EQ(p.freeSpaceBytes, (std::map<wchar_t, std::uint64_t>{{L'C', 100}}));
}

TEST_F(MachineProfileTest, UnreadableFileGivesTheDefaults) {
    for (const char* text : {"", "not json", "[1,2]", "{\"is64Bit\": fal"}) {
        WriteProfileFile(text);
        EXPECT_EQ(ProfileToJson(CurrentProfile()), ProfileToJson(DefaultMachineProfile())) << text;
    }
}

TEST_F(MachineProfileTest, EachPrefixHasItsOwnProfile) {
    MachineProfile p = CurrentProfile();
    p.userName = L"first";
    ASSERT_TRUE(SaveMachineProfile(p));
    {
        velmo_test::TempMachine other;
        EXPECT_EQ(CurrentProfile().userName, DefaultMachineProfile().userName);
    }
    UseMachine(machine_.root());
    EXPECT_EQ(CurrentProfile().userName, L"first");
}

// Each assignment checked by the JSON member it produces.
TEST_F(MachineProfileTest, SetProfileMemberAcceptsTheTextForms) {
    struct Case {
        const char* assignment;
        const char* member;
        json expected;
    } cases[] = {
        {"windowsVersion=6.1.7601", "windowsVersion", "6.1.7601"},
        {"windowsVersion=6.3", "windowsVersion", "6.3.0"},
        {"servicePack=1", "servicePack", 1},
        {"is64Bit=false", "is64Bit", false},
        {"is64Bit=TRUE", "is64Bit", true},
        {"uiLanguage=1031", "uiLanguage", 1031},
        {"uiLanguage=0x0411", "uiLanguage", 0x411},
        {"userName=Ann Smith", "userName", "Ann Smith"},
        {"domain=corp.example", "domain", "corp.example"},
        {"domain=", "domain", nullptr},
        {"memoryMB=2048", "memoryMB", 2048},
        {"cpuBrand=Intel(R) Core(TM) i7 = fast", "cpuBrand", "Intel(R) Core(TM) i7 = fast"},
        {"cpuVendor=GenuineIntel", "cpuVendor", "GenuineIntel"},
        {"sse41=0", "sse41", false},
        {"sse42=1", "sse42", true},
        {"sse4a=true", "sse4a", true},
        {"windowsUpdateBusy=true", "windowsUpdateBusy", true},
        {R"(gpus=[{"description":"GPU A","deviceId":7298,"sharedMemoryMB":128}])", "gpus",
         json::array({{{"description", "GPU A"}, {"deviceId", 7298}, {"sharedMemoryMB", 128}}})},
        {"gpus=[]", "gpus", json::array()},
        {R"(hotfixes=["KB1","KB2"])", "hotfixes", json::array({"KB1", "KB2"})},
        {"hotfixes=KB3, KB4 ,", "hotfixes", json::array({"KB3", "KB4"})},
        {"hotfixes=", "hotfixes", json::array()},
        {"freeSpaceBytes.c=2000000000", "freeSpaceBytes", {{"C", 2000000000}}},
        {R"(totalSpaceBytes={"D": 5, "e": 6})", "totalSpaceBytes", {{"D", 5}, {"E", 6}}},
    };
    for (const auto& c : cases) {
        MachineProfile p = DefaultMachineProfile();
        std::string error;
        ASSERT_TRUE(SetProfileMember(p, c.assignment, error)) << c.assignment << ": " << error;
        EXPECT_EQ(json::parse(ProfileToJson(p))[c.member], c.expected) << c.assignment;
    }
    MachineProfile p = DefaultMachineProfile();
    std::string error;
    ASSERT_TRUE(SetProfileMember(p, "freeSpaceBytes.C=10", error));
    ASSERT_TRUE(SetProfileMember(p, "freeSpaceBytes.C=", error));  // an empty value removes the override
    EXPECT_TRUE(p.freeSpaceBytes.empty());
}

TEST_F(MachineProfileTest, SetProfileMemberRefusesUnknownKeysAndBadValues) {
    for (const char* bad : {
             "noEquals", "colour=blue", "WindowsVersion=6.1.7601", "windowsVersion=6", "windowsVersion=6.x.1",
             "windowsVersion=6.1.7601.1", "servicePack=-1", "is64Bit=maybe", "uiLanguage=0x10000",
             "uiLanguage=65536", "uiLanguage=en-US", "userName=", "userName=a\\b", "memoryMB=lots", "memoryMB=",
             "gpus={\"description\":\"x\"}", "gpus=[1]", "gpus=[{\"deviceId\":\"x\"}]", "gpus=not json",
             "hotfixes=[1]", "hotfixes=[", "freeSpaceBytes.CD=1", "freeSpaceBytes.1=1", "freeSpaceBytes.C=-5",
             "freeSpaceBytes={\"C\":\"x\"}", "totalSpaceBytes=[]"}) {
        MachineProfile p = DefaultMachineProfile();
        const std::string before = ProfileToJson(p);
        std::string error;
        EXPECT_FALSE(SetProfileMember(p, bad, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
        EXPECT_EQ(ProfileToJson(p), before) << bad;  // a refused assignment changes nothing
    }
}

}  // namespace
