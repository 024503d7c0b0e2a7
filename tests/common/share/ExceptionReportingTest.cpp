#include "ExceptionReporting.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "Log.h"
#include "TestSupport.h"

namespace {

int throwLine = 0;
int reportLine = 0;

void failOnPath(const std::wstring& path) {
    throwLine = __LINE__ + 1;
    KRO_THROW("cannot use [" << path << "]");
}

// A boundary as every boundary reads; returns -1 like the launcher's sequence.
int boundary(void (*work)()) {
    try {
        work();
        return 0;
    } catch (const std::exception& e) {
        reportLine = __LINE__ + 1;
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
    return -1;
}

}  // namespace

TEST(ExceptionReporting, BoundaryRecordsTheErrorTextAtItsOwnSite) {
    testsupport::removeLog();
    EXPECT_EQ(-1, boundary([] { failOnPath(L"C:\\Users\\Jos\u00E9\\AppData\\Local\\Temp\\kro1.tmp"); }));

    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"ERROR", records[0].level);
    EXPECT_EQ(L"ExceptionReportingTest.cpp", records[0].file);
    EXPECT_EQ(L"`anonymous-namespace'::boundary", records[0].function);
    EXPECT_EQ(static_cast<unsigned>(reportLine), records[0].line);
    EXPECT_EQ(L"Exception with message 'ExceptionReportingTest.cpp(" + std::to_wstring(throwLine) +
                  L") at `anonymous-namespace'::failOnPath(): cannot use "
                  L"[C:\\Users\\Jos\u00E9\\AppData\\Local\\Temp\\kro1.tmp]' caught",
              records[0].message);
}

TEST(ExceptionReporting, ReportsEveryKindOfThrownObject) {
    struct Row {
        void (*work)();
        std::wstring message;
    };
    const Row rows[] = {
        {[] { throw std::runtime_error(""); }, L"Exception with message '' caught"},
        {[] { throw 42; }, L"Unknown exception caught"},
        {[] { throw std::runtime_error("bad \xE9 byte"); },
         L"Exception with message 'bad \u00E9 byte' caught"},
        {[] { throw std::invalid_argument("caf\xC3\xA9"); }, L"Exception with message 'caf\u00E9' caught"},
    };
    for (const Row& row : rows) {
        testsupport::removeLog();
        boundary(row.work);
        const auto records = testsupport::readLog();
        ASSERT_EQ(1u, records.size());
        EXPECT_EQ(row.message, records[0].message);
    }
}

TEST(ExceptionReporting, LogErrorIgnoresTheThreshold) {
    testsupport::removeLog();
    Logger& logger = Logger::instance();
    logger.threshold = ERROR + 1;
    KRO_LOG(ERROR, "not written");
    logError(CodeSite{"C:\\build\\src\\Widget", "Widget::open", 12}, L"written");
    logger.threshold = TRACE;
    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"written", records[0].message);
    EXPECT_EQ(L"Widget", records[0].file);
    EXPECT_EQ(12u, records[0].line);
    EXPECT_EQ(L"Widget::open", records[0].function);
}
