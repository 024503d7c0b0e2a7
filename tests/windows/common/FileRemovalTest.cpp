// Removal through handles: a walk whose stack does not grow with the tree's depth, and deletion that asks for
// POSIX semantics first and never changes what another name of a file shares.
#include "FileRemoval.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "FileHandles.h"
#include "LauncherRun.h"
#include "TestSupport.h"

namespace {

// The lowest address the stack reached, sampled by the information query that the walk makes per entry.
std::uintptr_t lowestStack = 0;
BOOL WINAPI stackSamplingQuery(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD size) {
    volatile char here = 0;
    lowestStack = std::min(lowestStack, reinterpret_cast<std::uintptr_t>(&here));
    return GetFileInformationByHandleEx(handle, kind, buffer, size);
}

// The stack that removing a chain of depth folders takes. Kept within MAX_PATH: Wine names nothing longer
// in the kernel's namespace.
std::uintptr_t stackToRemoveChain(std::size_t depth) {
    const testsupport::ScratchDir scratch(L"chain");
    std::wstring chain = scratch.path();
    for (std::size_t i = 0; i < depth; ++i) {
        CreateDirectoryW((chain += L"\\d").c_str(), nullptr);
    }
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    volatile char start = 0;
    lowestStack = reinterpret_cast<std::uintptr_t>(&start);
    FileUtils::seams::setInformationQuery(&stackSamplingQuery);
    EXPECT_TRUE(FileUtils::removeFolderContents(folder.handle(), folder.path()).empty()) << depth;
    FileUtils::seams::setInformationQuery(nullptr);
    return reinterpret_cast<std::uintptr_t>(&start) - lowestStack;
}

// Answers FileDispositionInfoEx as a system that has it (marking nothing: only what was asked counts) or as
// one that doesn't; the rest goes to the system.
bool exKnown = false;
std::vector<std::pair<int, ULONG>> asked;
BOOL WINAPI recordingSetInformation(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer,
                                    DWORD size) {
    asked.push_back({kind, kind == 21 ? *static_cast<ULONG*>(buffer) : 0});
    if (kind == 21) {
        SetLastError(exKnown ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER);
        return exKnown;
    }
    return SetFileInformationByHandle(handle, kind, buffer, size);
}

}  // namespace

TEST(FileRemoval, ADeepTreeCostsTheWalkNoStack) {
    EXPECT_LT(stackToRemoveChain(90), stackToRemoveChain(2) + 1024) << "a frame a level costs 90 x 400 bytes";
}

TEST(FileRemoval, DeletionAsksForPosixSemanticsAndKeepsWhatOtherNamesShare) {
    const int ex = 21, classic = FileDispositionInfo, basic = FileBasicInfo;
    const ULONG posix = 0x1 | 0x2 | 0x10;  // delete, POSIX semantics, read-only attribute ignored
    const struct {
        bool exKnown, secondName, deleted, readOnlyKept;
        std::vector<std::pair<int, ULONG>> asked;
    } rows[] = {{true, false, true, true, {{ex, posix}}},
                {false, false, true, false, {{ex, posix}, {classic, 0}, {basic, 0}, {classic, 0}}},
                {false, true, false, true, {{ex, posix}, {classic, 0}}}};
    for (const auto& row : rows) {
        const testsupport::ScratchDir scratch;
        const std::wstring file = scratch / L"read-only.txt";
        testsupport::writeFileBytes(file, "r");
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
        if (row.secondName) {
            ASSERT_TRUE(CreateHardLinkW((scratch / L"second.txt").c_str(), file.c_str(), nullptr));
        }
        exKnown = row.exKnown;
        asked.clear();
        const WinAutoHandle<HANDLE> handle(CreateFileW(
            file.c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(row.deleted, FileUtils::deleteByHandle(handle.get(), file, &recordingSetInformation));
        EXPECT_EQ(row.asked, asked) << row.exKnown << row.secondName;
        EXPECT_EQ(row.readOnlyKept, (FileUtils::attributesOf(handle.get()) & FILE_ATTRIBUTE_READONLY) != 0);
        SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}
