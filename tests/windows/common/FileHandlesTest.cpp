#include "FileHandles.h"
#include "FileRemoval.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LauncherRun.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "UnixLinks.h"
#include "tstrings.h"

TEST(FileHandles, HeldFoldersKnowTheirFinalPath) {
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    ASSERT_TRUE(folder.isHeld());
    EXPECT_EQ(scratch.path(), folder.path());
    // "C:" alone is the current directory on C:; a held folder means the drive's root.
    EXPECT_EQ(L"C:\\", FileUtils::HeldFolder::open(L"C:").path());
    const FileUtils::HeldFolder unknown =
        FileUtils::HeldFolder::open(scratch.path(), &testsupport::noFinalPath);
    EXPECT_TRUE(unknown.isHeld());
    EXPECT_EQ(L"", unknown.path());
    const FileUtils::HeldFolder missing = FileUtils::HeldFolder::open(scratch / L"missing");
    EXPECT_FALSE(missing.isHeld());
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), missing.error());
    EXPECT_EQ(SysInfo::getTempDir(), SysInfo::heldTempDir().path());
}

TEST(FileHandles, OpensNamesInsideTheHeldFolderOnly) {
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    const FileUtils::OpenRequest create{GENERIC_WRITE | SYNCHRONIZE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE};
    DWORD error = 0;
    const WinAutoHandle<HANDLE> file = FileUtils::openInFolder(folder.handle(), L"new.txt", create, error);
    ASSERT_TRUE(file.owned());
    EXPECT_EQ(scratch / L"new.txt", FileUtils::finalPathOf(file.get()));
    const struct {
        const wchar_t* name;
        ULONG disposition;
        DWORD error;
    } rows[] = {{L"new.txt", FILE_CREATE, ERROR_ALREADY_EXISTS},
                {L"new.txt", FILE_OPEN, ERROR_SHARING_VIOLATION},
                {L"missing.txt", FILE_OPEN, ERROR_FILE_NOT_FOUND}};
    for (const auto& row : rows) {
        const FileUtils::OpenRequest request{GENERIC_READ, FILE_SHARE_READ, row.disposition, 0};
        EXPECT_FALSE(FileUtils::openInFolder(folder.handle(), row.name, request, error).owned());
        EXPECT_EQ(row.error, error) << tstrings::toMultiByte(row.name);
    }
}

TEST(FileHandles, EmptiesAHeldFolderWithoutFollowingLinks) {
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"a.txt", "a");
    testsupport::writeFileBytes(scratch / L"readonly.txt", "r");
    SetFileAttributesW((scratch / L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    CreateDirectoryW((scratch / L"sub").c_str(), nullptr);
    testsupport::writeFileBytes(scratch / L"sub\\b.txt", "b");
    testsupport::writeFileBytes(scratch / L"held.txt", "h");
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    testsupport::removeLog();
    {
        // Open without delete sharing, as a program that still runs would hold a file.
        const WinAutoHandle<HANDLE> holder(CreateFileW((scratch / L"held.txt").c_str(), GENERIC_READ,
                                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(std::vector<std::wstring>{scratch / L"held.txt"},
                  FileUtils::removeFolderContents(folder.handle(), folder.path()));
    }
    std::vector<std::wstring> messages = testsupport::messagesOf(testsupport::readLog());
    std::sort(messages.begin(), messages.end());
    EXPECT_EQ((std::vector<std::wstring>{
                  L"TRACE: Deleted [" + scratch / L"a.txt" + L"] file",
                  L"TRACE: Deleted [" + scratch / L"readonly.txt" + L"] file",
                  L"TRACE: Deleted [" + scratch / L"sub\\b.txt" + L"] file",
                  L"TRACE: Deleted [" + scratch / L"sub" + L"] directory",
                  L"TRACE: Discarded R/O attribute from [" + scratch / L"readonly.txt" + L"] file"}),
              messages);
    EXPECT_TRUE(FileUtils::removeFolderContents(folder.handle(), folder.path()).empty()) << "let go: removed";

    // A link to a folder outside: its target and files stay. Wine opens the target even when asked for the
    // link itself, so there the link can't be removed and is named as left.
    const testsupport::SwitchableTemp linkedTree;
    testsupport::writeFileBytes(linkedTree.two() + L"\\keep.txt", "keep");
    testsupport::pointUnixLink(linkedTree.one() + L"\\link", linkedTree.two());
    const FileUtils::HeldFolder linked = FileUtils::HeldFolder::open(linkedTree.one());
    EXPECT_EQ(std::vector<std::wstring>{linked.path() + L"\\link"},
              FileUtils::removeFolderContents(linked.handle(), linked.path()));
    EXPECT_EQ("keep", testsupport::readFileBytes(linkedTree.two() + L"\\keep.txt"));
}

namespace {

// Opens for real, then answers as Windows does when another's opportunistic lock is being broken.
NTSTATUS NTAPI oplockedNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                    PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes,
                                    ULONG share, ULONG disposition, ULONG options, PVOID ea, ULONG eaLength) {
    const NTSTATUS status = FileUtils::boundNtCreateFile()(
        handle, access, attributes, io, size, fileAttributes, share, disposition, options, ea, eaLength);
    return status < 0 ? status : static_cast<NTSTATUS>(0x108);
}

}  // namespace

TEST(FileHandles, AnOpenThatMeetsAnOplockIsNotAvailable) {
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"locked.txt", "x");
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    const FileUtils::OpenRequest request{GENERIC_READ, 0, FILE_OPEN, FILE_COMPLETE_IF_OPLOCKED};
    DWORD error = 0;
    EXPECT_FALSE(
        FileUtils::openInFolder(folder.handle(), L"locked.txt", request, error, &oplockedNtCreateFile)
            .owned());
    EXPECT_EQ(FileUtils::errorOplockBreakInProgress, error);
    EXPECT_TRUE(FileUtils::openInFolder(folder.handle(), L"locked.txt", request, error).owned())
        << "the handle it got meanwhile was closed: nothing shares the file, yet it opens";
}
