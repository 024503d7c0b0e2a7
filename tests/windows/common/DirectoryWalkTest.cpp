#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileUtils.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

using testsupport::ScratchDir;

namespace {

// A tree of files and folders under root: "a.txt", "sub\b.txt", "sub\deep\c.txt", "sub\empty\", "d.txt".
void makeTree(const std::wstring& root) {
    CreateDirectoryW(root.c_str(), nullptr);
    for (const wchar_t* folder : {L"sub", L"sub\\deep", L"sub\\empty"}) {
        CreateDirectoryW((root + L"\\" + folder).c_str(), nullptr);
    }
    for (const wchar_t* file : {L"a.txt", L"sub\\b.txt", L"sub\\deep\\c.txt", L"d.txt"}) {
        testsupport::writeFileBytes(root + L"\\" + file, "x");
    }
}

std::vector<std::wstring> walk(const std::wstring& root, bool recursive, bool files, bool folders) {
    std::vector<std::wstring> items;
    FileUtils::DirectoryIterator(root, recursive, files, folders).findItems(items);
    return items;
}

std::vector<std::wstring> sorted(std::vector<std::wstring> items) {
    std::sort(items.begin(), items.end());
    return items;
}

std::vector<std::wstring> deletedRecords() {
    std::vector<std::wstring> result;
    for (const auto& record : testsupport::readLog()) {
        result.push_back(record.message);
    }
    return result;
}

class CountingCallback : public FileUtils::DirectoryCallback {
public:
    explicit CountingCallback(bool goOn) : goOn(goOn) {}
    bool onFile(const std::wstring&) override { return ++calls, goOn; }
    bool onFolder(const std::wstring&) override { return ++calls, goOn; }
    int calls = 0;
    bool goOn;
};

}  // namespace

TEST(DirectoryWalk, CollectsDepthFirstWithEachFolderBeforeItsContents) {
    const ScratchDir scratch;
    const std::wstring root = scratch / L"root";
    makeTree(root);
    const std::vector<std::wstring> items = walk(root, true, true, true);
    EXPECT_EQ(sorted({root + L"\\a.txt", root + L"\\d.txt", root + L"\\sub", root + L"\\sub\\b.txt",
                      root + L"\\sub\\deep", root + L"\\sub\\deep\\c.txt", root + L"\\sub\\empty"}),
              sorted(items));
    // The file system decides the order within a folder; a folder's whole tree follows it without a gap.
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::wstring prefix = items[i] + L"\\";
        std::size_t end = i + 1;
        while (end < items.size() && items[end].rfind(prefix, 0) == 0) {
            ++end;
        }
        for (std::size_t j = end; j < items.size(); ++j) {
            EXPECT_NE(0u, items[j].rfind(prefix, 0))
                << tstrings::toMultiByte(items[j]) << " comes apart from its folder";
        }
        const std::wstring parent = FileUtils::getDirectory(items[i]);
        if (parent != root) {
            const auto at = std::find(items.begin(), items.end(), parent);
            EXPECT_LT(at - items.begin(), static_cast<std::ptrdiff_t>(i)) << "folder before its contents";
        }
    }
    EXPECT_EQ(sorted({root + L"\\a.txt", root + L"\\d.txt"}), sorted(walk(root, false, true, false)));
    EXPECT_EQ(sorted({root + L"\\sub", root + L"\\sub\\deep", root + L"\\sub\\empty"}),
              sorted(walk(root, true, false, true)));
}

TEST(DirectoryWalk, FindItemsAppendsAndIgnoresWhatIsNotAFolder) {
    const ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"file", "x");
    std::vector<std::wstring> items = {L"kept"};
    FileUtils::DirectoryIterator(scratch / L"missing", true, true, true).findItems(items);
    FileUtils::DirectoryIterator(scratch / L"file", true, true, true).findItems(items);
    EXPECT_EQ(std::vector<std::wstring>{L"kept"}, items);
    FileUtils::DirectoryIterator(scratch.path(), true, true, true).findItems(items);
    EXPECT_EQ((std::vector<std::wstring>{L"kept", scratch / L"file"}), items);
}

TEST(DirectoryWalk, CallbacksSeeEntriesAndCanStop) {
    const ScratchDir scratch;
    CountingCallback none(true);
    FileUtils::iterateDirectory(scratch.path(), none);
    EXPECT_EQ(0, none.calls) << "an empty folder calls nothing";

    makeTree(scratch / L"root");
    CountingCallback stopper(false);
    FileUtils::iterateDirectory(scratch / L"root", stopper);
    EXPECT_EQ(1, stopper.calls);
    CountingCallback all(true);
    FileUtils::iterateDirectory(scratch / L"root", all);
    EXPECT_EQ(3, all.calls) << "one level only";

    try {
        FileUtils::iterateDirectory(scratch / L"missing", all);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find(") at FileUtils::iterateDirectory(): FindFirstFile(" +
                                             tstrings::toMultiByte(scratch / L"missing") +
                                             ") failed. System error [3]"))
            << e.what();
    }
}

TEST(DirectoryWalk, TreeDeletionKeepsOnlyTheWayToWhatItCannotDelete) {
    const ScratchDir scratch;
    const std::wstring root = scratch / L"root";
    makeTree(root);
    const WinAutoHandle<HANDLE> holder(CreateFileW((root + L"\\sub\\deep\\c.txt").c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, holder.get());
    {
        FileUtils::ScopedDeleter deleter(false);
        deleter.appendDirectory(root);
    }
    EXPECT_EQ(sorted({root + L"\\sub", root + L"\\sub\\deep", root + L"\\sub\\deep\\c.txt"}),
              sorted(walk(root, true, true, true)));
}

TEST(DirectoryWalk, DeleterOrderCancelAndRepeat) {
    const ScratchDir scratch;
    const std::wstring root = scratch / L"root";
    makeTree(root);
    const std::wstring single = root + L"\\a.txt";
    testsupport::removeLog();
    {
        FileUtils::ScopedDeleter cancelled(false);
        cancelled.appendDirectory(root);
        cancelled.cancel();
    }
    EXPECT_TRUE(FileUtils::pathExists(single));
    EXPECT_TRUE(deletedRecords().empty());

    FileUtils::ScopedDeleter deleter(false);
    deleter.appendDirectory(root);
    deleter.appendFile(single);
    deleter.execute();
    EXPECT_FALSE(FileUtils::pathExists(root));
    const auto records = deletedRecords();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(L"Deleted [" + single + L"] file", records.front()) << "single files go before trees";
    EXPECT_EQ(L"Deleted [" + root + L"] directory", records.back());
    EXPECT_EQ(7u + 1u, records.size());

    testsupport::removeLog();
    makeTree(root);
    deleter.execute();
    EXPECT_TRUE(FileUtils::pathExists(root)) << "a second execute does nothing";
    EXPECT_TRUE(deletedRecords().empty());
}

TEST(DirectoryWalk, FolderFilesLeavesSubFoldersAndUnknownActionsDoNothing) {
    const ScratchDir scratch;
    const std::wstring root = scratch / L"root";
    makeTree(root);
    {
        FileUtils::ScopedDeleter deleter(false);
        deleter.appendEntry(root, 8);
        deleter.appendEntry(root, -1);
        deleter.appendEntry(root + L"\\sub\\empty", 6);
        deleter.appendEntry(root, 2);
    }
    EXPECT_EQ(sorted({root + L"\\sub", root + L"\\sub\\b.txt", root + L"\\sub\\deep",
                      root + L"\\sub\\deep\\c.txt"}),
              sorted(walk(root, true, true, true)));
}

TEST(DirectoryWalk, NeverEntersALinkedFolder) {
    // Made by the fixture script from the Linux side: link-tree\tree holds files and "link", a symbolic link
    // to link-tree\outside, which holds keep.txt.
    const std::wstring base = tstrings::fromMultiByte(KRO_FIXTURES_DIR) + L"\\link-tree";
    const std::wstring tree = base + L"\\tree";
    ASSERT_TRUE(FileUtils::isLinkFolder(tree + L"\\link"));
    EXPECT_EQ(sorted({tree + L"\\a.txt", tree + L"\\link", tree + L"\\sub", tree + L"\\sub\\b.txt"}),
              sorted(walk(tree, true, true, true)))
        << "the link is reported, its target not walked";
    {
        FileUtils::ScopedDeleter deleter(false);
        deleter.appendDirectory(tree);
    }
    EXPECT_EQ("keep", testsupport::readFileBytes(base + L"\\outside\\keep.txt")) << "the target is untouched";
    EXPECT_TRUE(FileUtils::isDirectory(base + L"\\outside"));
    // Windows removes the link itself; Wine can't remove a Unix link to a folder, so there the link and the
    // folder holding it are all that is left.
    std::vector<std::wstring> left;
    FileUtils::DirectoryIterator(tree, true, true, true).findItems(left);
    EXPECT_TRUE(left.empty() || left == std::vector<std::wstring>{tree + L"\\link"});
}
