#include "tstrings.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

using tstrings::TextBuilder;

TEST(tstrings, ConvertsBetweenUtf8AndUtf16) {
    struct Row {
        std::string utf8;
        std::wstring wide;
    };
    const Row rows[] = {
        {"", L""},
        {"abc", L"abc"},
        {"\xC3\xA9", L"\u00E9"},
        {"Jos\xC3\xA9\\\xE6\x97\xA5", L"Jos\u00E9\\\u65E5"},
        {"\xF0\x9F\x98\x80", L"\U0001F600"},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.utf8, tstrings::toMultiByte(row.wide)) << row.utf8;
        EXPECT_EQ(row.wide, tstrings::fromMultiByte(row.utf8)) << row.utf8;
    }
}

TEST(tstrings, InvalidUtf8DecodesToEmptyText) {
    EXPECT_EQ(L"", tstrings::fromMultiByte("\xC3\x28"));
    EXPECT_EQ(L"", tstrings::fromMultiByte("valid then \xFF"));
    EXPECT_EQ(L"", TextBuilder("\xC3\x28").str());
    EXPECT_EQ(L"ok", (TextBuilder("\xC3\x28") << "ok").str());
}

TEST(tstrings, UnpairedSurrogateBecomesReplacementCharacter) {
    EXPECT_EQ("\xEF\xBF\xBD", tstrings::toMultiByte(std::wstring(1, wchar_t(0xD800))));
}

TEST(tstrings, TextBuilderInsertions) {
    struct Row {
        std::wstring built;
        std::wstring expected;
    };
    const Row rows[] = {
        {(TextBuilder() << "\xC3\xA9").str(), L"\u00C3\u00A9"},
        {TextBuilder("\xC3\xA9").str(), L"\u00E9"},
        {(TextBuilder() << std::string("\xC3\xA9")).str(), L"\u00E9"},
        {(TextBuilder() << std::wstring(L"w\u00E9") << L"!").str(), L"w\u00E9!"},
        {(TextBuilder() << 4294967295u).str(), L"4294967295"},
        {(TextBuilder() << static_cast<unsigned long>(4294967295u)).str(), L"4294967295"},
        {(TextBuilder() << -5 << " " << 0).str(), L"-5 0"},
        {(TextBuilder() << INT_MIN).str(), L"-2147483648"},
        {(TextBuilder() << INT64_MIN).str(), L"-9223372036854775808"},
        {(TextBuilder() << UINT64_MAX).str(), L"18446744073709551615"},
        {(TextBuilder() << reinterpret_cast<const void*>(0x1A4)).str(), L"00000000000001A4"},
        {(TextBuilder() << static_cast<const void*>(nullptr)).str(), L"0000000000000000"},
        {(TextBuilder() << reinterpret_cast<void*>(~std::uintptr_t(0))).str(), L"FFFFFFFFFFFFFFFF"},
        {(TextBuilder() << "CreateDirectory(" << std::wstring(L"C:\\T") << ") failed").str(),
         L"CreateDirectory(C:\\T) failed"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.expected, row.built);
    }
    EXPECT_EQ("\xC3\xA9", TextBuilder("\xC3\xA9").utf8());
}

TEST(tstrings, EqualsFoldsOnlyAsciiLetters) {
    struct Row {
        std::wstring a, b;
        bool sensitive, ignoreCase;
    };
    const Row rows[] = {
        {L"ABC", L"abc", false, true},        {L"abc", L"abc", true, true},
        {L"\u00C4", L"\u00E4", false, false}, {L"C:\\T\\SETUP.EXE", L"c:\\t\\setup.exe", false, true},
        {L"abc", L"abcd", false, false},      {L"", L"", true, true},
        {L"[", L"{", false, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.sensitive, tstrings::equals(row.a, row.b, tstrings::CASE_SENSITIVE)) << row.a;
        EXPECT_EQ(row.ignoreCase, tstrings::equals(row.a, row.b, tstrings::IGNORE_CASE)) << row.a;
    }
    EXPECT_EQ(L"abc-\u00C4z", tstrings::toLower(L"ABC-\u00C4Z"));
}

TEST(tstrings, ToStringWritesDecimal) {
    EXPECT_EQ(L"-2147483648", tstrings::toString(std::int32_t(INT32_MIN)));
    EXPECT_EQ(L"-16", tstrings::toString(std::int32_t(-16)));
    EXPECT_EQ(L"0", tstrings::toString(std::int32_t(0)));
    EXPECT_EQ(L"18446744073709551615", tstrings::toString(UINT64_MAX));
}

TEST(tstrings, UnsafeFormatGrowsUntilTheTextFits) {
    for (std::size_t length : {0u, 1u, 255u, 256u, 257u, 511u, 512u, 5000u}) {
        const std::wstring text(length, L'x');
        EXPECT_EQ(text, tstrings::unsafe_format(L"%s", text.c_str())) << length;
    }
    EXPECT_EQ(L"[2026/01/31 09:05:07.042] C:\\T 4294967295",
              tstrings::unsafe_format(L"[%04u/%02u/%02u %02u:%02u:%02u.%03u] %s %u", 2026u, 1u, 31u, 9u, 5u,
                                      7u, 42u, L"C:\\T", 4294967295u));
    EXPECT_EQ(L"CloseHandle(x) failed with system error 6",
              tstrings::unsafe_format(L"%s failed with %s", L"CloseHandle(x)", L"system error 6"));
}

TEST(tstrings, UnsafeFormatRejectsNullFormat) {
    try {
        tstrings::unsafe_format(nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        const std::string what = e.what();
        EXPECT_EQ("tstrings.cpp", what.substr(0, 12));
        const std::string tail = ") at tstrings::unsafe_format(): Destination buffer can't be NULL";
        ASSERT_GE(what.size(), tail.size());
        EXPECT_EQ(tail, what.substr(what.size() - tail.size()));
    }
}
