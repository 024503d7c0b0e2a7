#include "WinErrorHandling.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestSupport.h"

TEST(WinErrorHandling, JoinsMessages) {
    struct Row {
        std::string first, second, joined;
    };
    const Row rows[] = {
        {"Copy failed", "  detail \t", "Copy failed. detail"},
        {"Copy failed:", " detail", "Copy failed: detail"},
        {"Done! \r\n", "detail", "Done! detail"},
        {"a;", "b", "a; b"},
        {"a,", "b", "a, b"},
        {"a?", "b", "a? b"},
        {"a.", "b", "a. b"},
        {"  lead", "b", "  lead. b"},
        {"Copy failed  ", "", "Copy failed"},
        {"Copy failed", " \t\n\v\f\r", "Copy failed"},
        {"", " detail ", "detail"},
        {" \t ", "detail", "detail"},
        {" ", " ", ""},
        {"caf\xC3\xA9", "x", "caf\xC3\xA9. x"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.joined, joinMessages(row.first, row.second))
            << "[" << row.first << "] [" << row.second << "]";
    }
}

TEST(WinErrorHandling, DescribesSystemErrorCodes) {
    struct Row {
        DWORD code;
        const char* text;
    };
    // The descriptions come from Wine's message tables.
    const Row rows[] = {
        {ERROR_FILE_NOT_FOUND,
         "CreateDirectory(C:\\T\\x) failed. System error [2](system error 2 (File not found))"},
        {ERROR_ACCESS_DENIED,
         "CreateDirectory(C:\\T\\x) failed. System error [5](system error 5 (Access denied))"},
        {0xC0000005u,
         "CreateDirectory(C:\\T\\x) failed. System error [3221225477](system error 3221225477 "
         "(No description available))"},
    };
    for (const Row& row : rows) {
        const SysError error(tstrings::TextBuilder()
                                 << "CreateDirectory(" << std::wstring(L"C:\\T\\x") << ") failed",
                             reinterpret_cast<const void*>(&CreateDirectoryW), row.code);
        EXPECT_STREQ(row.text, error.what());
        const SysError withoutFunction(tstrings::TextBuilder() << "CreateDirectory(C:\\T\\x) failed", nullptr,
                                       row.code);
        EXPECT_STREQ(row.text, withoutFunction.what()) << "the system table serves without a module";
    }
    EXPECT_EQ(L"system error 5 (Access denied)", formatSystemError(5, nullptr));
    EXPECT_EQ(L"No description available", getSystemErrorDescription(0xE0001234u, nullptr));
}

TEST(WinErrorHandling, ThrowIdiomKeepsTheCodeReadRightAfterTheCall) {
    try {
        SetLastError(ERROR_PATH_NOT_FOUND);
        KRO_THROW_SYSERROR(CreateDirectoryW, "CreateDirectory(" << std::wstring(L"Q:\\x") << ") failed");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        const std::string what = e.what();
        EXPECT_EQ(0u, what.find("WinErrorHandlingTest.cpp(")) << what;
        EXPECT_NE(
            std::string::npos,
            what.find(") at WinErrorHandling_ThrowIdiomKeepsTheCodeReadRightAfterTheCall_Test::TestBody(): "
                      "CreateDirectory(Q:\\x) failed. System error [3](system error 3 ("))
            << what;
    }
}

TEST(WinErrorHandling, UnknownAddressGivesAWarningAndNoDescription) {
    testsupport::removeLog();
    const auto heap = std::make_unique<int>(0);
    const std::string text = makeMessage("Call failed", nullptr, heap.get(), 5);
    EXPECT_EQ("Call failed. Some error [5]", text);

    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"WARNING", records[0].level);
    EXPECT_EQ(L"makeMessage", records[0].function);
    EXPECT_EQ(L"WinErrorHandling.cpp", records[0].file);
    EXPECT_EQ((tstrings::TextBuilder()
               << "GetModuleHandleEx() failed for " << static_cast<const void*>(heap.get()) << " address.")
                  .str(),
              records[0].message);
}
