#include "util/versions.h"

#include <gtest/gtest.h>

namespace {

TEST(Versions, VersionAtLeastComparesNumericallyAndCountsParts) {
    struct Case {
        const wchar_t *a, *b;
        bool want;
    } cases[] = {
        {L"10.0.1", L"9.9.9", true},   {L"1.2", L"1.2.0", false},  {L"1.2.0", L"1.2", true},
        {L"1.10", L"1.9", true},       {L"1.9", L"1.10", false},   {L"14.29.30133", L"14.29.30133", true},
        {L"14.30", L"14.29.99", true}, {L"2", L"10", false},       {L"1.x", L"1.0", true},
        {L"", L"", true},              {L"4.8", L"4.7.2", true},   {L"4.7", L"4.7.2", false},
    };
    for (const auto& c : cases) EXPECT_EQ(util::VersionAtLeast(c.a, c.b), c.want) << c.a << " vs " << c.b;
}

TEST(Versions, CompareVersionsTreatsALongerRightSideAsEqual) {
    struct Case {
        const wchar_t *a, *b;
        int want;
    } cases[] = {
        {L"2.0.1.50", L"2.0.1.49", 1}, {L"1.2", L"1.2.5", 0},   {L"1.2.5", L"1.2", 1},
        {L"1.10", L"1.9", 1},          {L"1.9", L"1.10", -1},   {L"3.0", L"3.0", 0},
        {L"1..2", L"1.2", 0},          {L" 2 . 1 ", L"2.1", 0}, {L"0.9", L"1", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(util::CompareVersions(c.a, c.b), c.want) << c.a << " vs " << c.b;
}

}  // namespace
