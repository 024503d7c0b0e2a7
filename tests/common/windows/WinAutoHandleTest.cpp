#include "WinAutoHandle.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "TestSupport.h"
#include "WinErrorHandling.h"

namespace {

HANDLE newEvent() {
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

bool isOpen(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

}  // namespace

TEST(WinAutoHandle, ClosesOnceAndNeverAfterAMoveOrRelease) {
    const HANDLE event = newEvent();
    {
        WinAutoHandle<HANDLE> first(event);
        WinAutoHandle<HANDLE> second(std::move(first));
        EXPECT_FALSE(first.owned());
        first.reset();
        EXPECT_TRUE(isOpen(event)) << "a moved-from owner closes nothing";
        EXPECT_EQ(event, second.get());
    }
    EXPECT_FALSE(isOpen(event)) << "the moved-to owner closed it";

    const HANDLE kept = newEvent();
    {
        WinAutoHandle<HANDLE> owner(kept);
        EXPECT_EQ(kept, owner.release());
        EXPECT_EQ(kept, owner.get()) << "the value stays readable";
    }
    EXPECT_TRUE(isOpen(kept));
    CloseHandle(kept);
}

TEST(WinAutoHandle, NullAndInvalidHandlesWriteNothing) {
    testsupport::removeLog();
    { const WinAutoHandle<HANDLE> null(nullptr); }
    { const WinAutoHandle<HANDLE> invalid(INVALID_HANDLE_VALUE); }
    { const WinAutoHandle<HKEY> key(nullptr); }
    closeHANDLE(nullptr);
    closeHANDLE(INVALID_HANDLE_VALUE);
    closeRegHandle(nullptr);
    EXPECT_TRUE(testsupport::readLog().empty());
}

TEST(WinAutoHandle, AFailedCloseIsOneErrorRecord) {
    const HANDLE event = newEvent();
    CloseHandle(event);
    testsupport::removeLog();
    { const WinAutoHandle<HANDLE> stale(event); }

    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"ERROR", records[0].level);
    EXPECT_EQ(L"closeHANDLE", records[0].function);
    EXPECT_EQ(L"WinAutoHandle.cpp", records[0].file);
    EXPECT_EQ(
        (tstrings::TextBuilder() << "CloseHandle(" << static_cast<const void*>(event) << ") failed with "
                                 << formatSystemError(ERROR_INVALID_HANDLE, nullptr))
            .str(),
        records[0].message);
}

TEST(WinAutoHandle, AFailedRegistryCloseUsesTheReturnedStatus) {
    testsupport::removeLog();
    const HKEY bogus = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1A4));
    closeRegHandle(bogus);
    const auto records = testsupport::readLog();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(L"closeRegHandle", records[0].function);
    EXPECT_EQ(0u, records[0].message.find(L"RegCloseKey(00000000000001A4) failed with system error 6 ("))
        << tstrings::toMultiByte(records[0].message);
}

TEST(WinAutoHandle, RegistryRootAndViewNames) {
    EXPECT_EQ(L"HKC", hkcRoot.name);
    EXPECT_EQ(HKEY_CLASSES_ROOT, hkcRoot.key.get());
    EXPECT_FALSE(hkcRoot.key.owned()) << "a predefined root is never closed";
    EXPECT_EQ(0u, hkcRoot.view);
    // The test machine is AMD64.
    EXPECT_EQ(L"HKC32", withRegistryViewSuffix(L"HKC", KEY_WOW64_32KEY));
    EXPECT_EQ(L"HKC64", withRegistryViewSuffix(L"HKC", KEY_WOW64_64KEY));
    EXPECT_EQ(L"HKC", withRegistryViewSuffix(L"HKC", 0));
    EXPECT_EQ(L"HKC", withRegistryViewSuffix(L"HKC", KEY_WOW64_32KEY | KEY_WOW64_64KEY));
}
