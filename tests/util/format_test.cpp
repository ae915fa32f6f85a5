#include "util/format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using util::Format;

struct MismatchCounter {
    static inline int count = 0;
    static void Handler(std::wstring_view, std::size_t) { ++count; }
    util::FormatMismatchHandler previous;
    MismatchCounter() : previous(util::SetFormatMismatchHandler(&Handler)) { count = 0; }
    ~MismatchCounter() { util::SetFormatMismatchHandler(previous); }
};

TEST(Format, ConversionsOfTheSystemFormats) {
    const std::wstring path = L"C:\\Program Files (x86)\\Velmo";
    const std::int64_t big = 5LL * 1024 * 1024 * 1024;
    struct Case {
        std::wstring got, want;
    } cases[] = {
        {Format(L"Install path :%s Partition size:%d GB\n", path, 42),
         L"Install path :C:\\Program Files (x86)\\Velmo Partition size:42 GB\n"},
        {Format(L"%ls|%s", L"wide", std::wstring(L"text")), L"wide|text"},
        {Format(L"%d %ld %i", -7, 2147483647, -2147483647 - 1), L"-7 2147483647 -2147483648"},
        {Format(L"%lld", big), L"5368709120"},
        {Format(L"[%04d-%02d-%02d %02d:%02d:%02d.%03d]", 2024, 5, 13, 9, 41, 7, 250), L"[2024-05-13 09:41:07.250]"},
        {Format(L"%X %x %08X %#x", 255u, 255u, 0xBEEFu, 16u), L"FF ff 0000BEEF 0x10"},
        {Format(L"%02X%02X%02X%02X", 4, 9, 4, 0xB0), L"040904B0"},
        {Format(L"100%% done"), L"100% done"},
        {Format(L"[%5d][%-5d][%05d][%+d]", 42, 42, -42, 42), L"[   42][42   ][-0042][+42]"},
        {Format(L"[%8s][%-8s][%.3s]", L"abc", L"abc", L"abcdef"), L"[     abc][abc     ][abc]"},
        {Format(L"%*d|%.*s", 4, 7, 2, L"xyz"), L"   7|xy"},
        {Format(L"%u", 4294967295u), L"4294967295"},
        {Format(L"%c%c", L'o', L'k'), L"ok"},
        {Format(L"%S", "utf-8 \xC3\xA9"), L"utf-8 \u00e9"},
        {Format(L"%.2f", 3.14159), L"3.14"},
        {Format(L"%s", L"100% sure %d"), L"100% sure %d"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, MismatchedArgumentsAreReportedAndWrittenInTheirNaturalForm) {
    MismatchCounter counter;
    struct Case {
        std::wstring got, want;
        int mismatches;
    } cases[] = {
        {Format(L"%d", L"text"), L"text", 1},
        {Format(L"%s", 42), L"42", 1},
        {Format(L"%d", 5368709120LL), L"5368709120", 1},  // 64-bit value for a 32-bit conversion
        {Format(L"%s and %s", L"one"), L"one and ", 1},   // missing argument
        {Format(L"%d", 1, 2), L"1", 0},                   // extra arguments are ignored
        {Format(L"%s", "narrow"), L"narrow", 1},          // narrow text for a wide conversion
    };
    int expected = 0;
    for (const auto& c : cases) {
        EXPECT_EQ(c.got, c.want);
        expected += c.mismatches;
    }
    EXPECT_EQ(MismatchCounter::count, expected);
}

TEST(Format, BoundedWidthAndDanglingPercent) {
    EXPECT_EQ(Format(L"%999999999d", 1).size(), 4096u);
    EXPECT_EQ(Format(L"50%"), L"50%");
    EXPECT_EQ(Format(L"%y", 1), L"%y");
    EXPECT_EQ(Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
}

}  // namespace
