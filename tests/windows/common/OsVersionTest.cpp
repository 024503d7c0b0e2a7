#include <gtest/gtest.h>

#include "SysInfo.h"
#include "TestSupport.h"
#include "tstrings.h"

using SysInfo::OsVersion;

TEST(OsVersion, ClassifiesVersionsInReleaseOrder) {
    struct Row {
        DWORD major, minor;
        OsVersion version;
    };
    const Row rows[] = {
        {0, 0, SysInfo::WinOlder},  {4, 0, SysInfo::WinOlder}, {5, 0, SysInfo::WinOlder},
        {5, 1, SysInfo::WinXP},     {5, 2, SysInfo::WinXP},    {6, 0, SysInfo::WinVista},
        {6, 1, SysInfo::Win7},      {6, 2, SysInfo::Win8},     {6, 3, SysInfo::Win81},
        {6, 4, SysInfo::WinNewer},  {10, 0, SysInfo::Win10},   {10, 1, SysInfo::WinNewer},
        {11, 0, SysInfo::WinNewer}, {5, 9, SysInfo::WinOlder},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.version, SysInfo::seams::classifyOsVersion(row.major, row.minor))
            << row.major << "." << row.minor;
    }
}

namespace {

// The running system's version, asked of ntdll directly.
OSVERSIONINFOEXW runningVersion() {
    using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    OSVERSIONINFOEXW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    rtlGetVersion(&info);
    return info;
}

}  // namespace

TEST(OsVersion, TheRunningSystemIsClassifiedBeforeMain) {
    const OSVERSIONINFOEXW info = runningVersion();
    EXPECT_EQ(SysInfo::seams::classifyOsVersion(info.dwMajorVersion, info.dwMinorVersion),
              SysInfo::getOsVersion());
    EXPECT_GE(SysInfo::getOsVersion(), SysInfo::WinVista);
}

TEST(OsVersion, RtlGetVersionSuccessNeverBindsGetVersionEx) {
    testsupport::removeLog();
    OSVERSIONINFOEXW record{};
    record.dwOSVersionInfoSize = sizeof(record);
    // Were the fallback bound, loading this library would fail and be reported.
    SysInfo::seams::VersionSources sources;
    sources.versionExLibrary = "no-such-library";
    EXPECT_EQ(SysInfo::getOsVersion(), SysInfo::seams::readOsVersion(record, sources));
    EXPECT_EQ(runningVersion().dwMajorVersion, record.dwMajorVersion);
    EXPECT_TRUE(testsupport::readLog().empty());
}

TEST(OsVersion, BothFunctionsFailingGivesTwoErrorsAndWinOlder) {
    testsupport::removeLog();
    OSVERSIONINFOEXW record{};  // a size of 0 makes GetVersionExW fail
    SysInfo::seams::VersionSources sources;
    sources.rtlFunction = "RtlGetVersionMissing";
    EXPECT_EQ(SysInfo::WinOlder, SysInfo::seams::readOsVersion(record, sources));

    const auto records = testsupport::readLog();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ(L"ERROR", records[0].level);
    EXPECT_EQ(L"SysInfo.cpp", records[0].file) << "the module they belong to";
    EXPECT_EQ(L"SysInfo.cpp", records[1].file);
    EXPECT_EQ(L"SysInfo::`anonymous-namespace'::initWithRtlGetVersion", records[0].function);
    EXPECT_EQ(L"RtlGetVersionMissing is not available", records[0].message);
    EXPECT_EQ(L"SysInfo::`anonymous-namespace'::initWithGetVersionEx", records[1].function);
    EXPECT_EQ(0u, records[1].message.find(L"GetVersionExW() failed with system error "))
        << tstrings::toMultiByte(records[1].message);
}

TEST(OsVersion, AFailureToLoadIsReportedNotThrown) {
    testsupport::removeLog();
    OSVERSIONINFOEXW record{};
    SysInfo::seams::VersionSources sources;
    sources.rtlLibrary = "no-such-library";
    EXPECT_EQ(SysInfo::WinOlder, SysInfo::seams::readOsVersion(record, sources));
    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"SysInfo::seams::readOsVersion", records[0].function);
    EXPECT_NE(std::wstring::npos, records[0].message.find(L"LoadLibraryW("))
        << tstrings::toMultiByte(records[0].message);
}
