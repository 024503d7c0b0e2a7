#include "KroError.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {
int throwingLine = 0;
void throwBadValue(int value) {
    throwingLine = __LINE__ + 1;
    KRO_THROW("Bad value " << value << " in [" << std::wstring(L"C:\\Jos\u00E9") << "]");
}
}  // namespace

TEST(KroError, ComposesTheLocationPrefix) {
    struct Row {
        CodeSite site;
        const char* text;
        const char* expected;
    };
    const Row rows[] = {
        {{"C:\\build\\src\\Widget", "Widget::open", 12},
         "Bad value",
         "Widget(12) at Widget::open(): Bad value"},
        {{"/build/src/Widget.cpp", "f", -3}, "x", "Widget.cpp(-3) at f(): x"},
        {{"Widget", "f", 1}, "", "Widget(1) at f(): "},
        {{"C:\\build\\src\\", "f", 1}, "t", "(1) at f(): t"},
        {{"a/b\\c", "`anonymous-namespace'::run", 7}, "t", "c(7) at `anonymous-namespace'::run(): t"},
    };
    for (const Row& row : rows) {
        const KroError<std::runtime_error> error(std::runtime_error(row.text), row.site);
        EXPECT_STREQ(row.expected, error.what());
        EXPECT_STREQ(row.text, error.std::runtime_error::what()) << "the base keeps the plain text";
    }
}

TEST(KroError, ThrowIdiomCarriesTheThrowSite) {
    try {
        throwBadValue(-4);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_EQ("KroErrorTest.cpp(" + std::to_string(throwingLine) +
                      ") at `anonymous-namespace'::throwBadValue(): Bad value -4 in [C:\\Jos\xC3\xA9]",
                  e.what());
        EXPECT_NE(nullptr, dynamic_cast<const std::runtime_error*>(&e));
    }
}

TEST(KroError, EveryInstantiationKeepsItsBaseChain) {
    const CodeSite site{"f.cpp", "g", 1};
    const KroError<std::invalid_argument> invalid(std::invalid_argument("bad"), site);
    const std::logic_error& logic = invalid;
    EXPECT_STREQ("f.cpp(1) at g(): bad", logic.what());

    const KroError<std::runtime_error> fromText(std::string("s"), site);
    const KroError<std::runtime_error> fromPointer("p", site);
    const KroError<std::runtime_error> fromBuilder(tstrings::TextBuilder() << L"\u00E9", site);
    EXPECT_STREQ("f.cpp(1) at g(): s", fromText.what());
    EXPECT_STREQ("f.cpp(1) at g(): p", fromPointer.what());
    EXPECT_STREQ("f.cpp(1) at g(): \xC3\xA9", fromBuilder.what());

    const KroError<std::runtime_error> copy = fromBuilder;
    EXPECT_STREQ(fromBuilder.what(), copy.what());
    EXPECT_STREQ("\xC3\xA9", copy.std::runtime_error::what());
}
