#include <gtest/gtest.h>

#include <string>

#include "FileUtils.h"
#include "TestSupport.h"
#include "tstrings.h"

namespace {
std::string narrow(const std::wstring& text) {
    return tstrings::toMultiByte(text);
}
}  // namespace

TEST(FileUtilsPaths, TakesPathsApart) {
    struct Row {
        std::wstring path, fileName, directory, withoutTrailing;
    };
    const Row rows[] = {
        {L"C:\\dir\\file.exe", L"file.exe", L"C:\\dir", L"C:\\dir\\file.exe"},
        {L"file.exe", L"file.exe", L"", L"file.exe"},
        {L"C:\\dir\\", L"", L"C:\\dir", L"C:\\dir"},
        {L"C:/dir/x", L"x", L"C:/dir", L"C:/dir/x"},
        {L"C:\\dir\\\\file", L"file", L"C:\\dir", L"C:\\dir\\\\file"},
        {L"C:\\file", L"file", L"C:", L"C:\\file"},
        {L"dir\\", L"", L"dir", L"dir"},
        {L"\\file", L"file", L"", L"\\file"},
        {L"C:\\dir\\/\\", L"", L"C:\\dir", L"C:\\dir"},
        {L"\\/\\", L"", L"", L""},
        {L"", L"", L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.fileName, FileUtils::getFileName(row.path)) << narrow(row.path);
        EXPECT_EQ(row.directory, FileUtils::getDirectory(row.path)) << narrow(row.path);
        EXPECT_EQ(row.withoutTrailing, FileUtils::removeTrailingSeparators(row.path)) << narrow(row.path);
    }
}

TEST(FileUtilsPaths, JoinsWithOneBackslash) {
    struct Row {
        std::wstring folder, name, joined;
    };
    const Row rows[] = {
        {L"", L"x", L"x"},
        {L"x", L"", L"x"},
        {L"C:\\a\\\\\\", L"/b", L"C:\\a\\b"},
        {L"C:\\a\\", L"\\b", L"C:\\a\\b"},
        {L"C:\\a", L"b", L"C:\\a\\b"},
        {L"C:/a/", L"/b", L"C:/a\\b"},
        {L"\\", L"b", L"\\b"},
        {L"C:\\a", L"\\\\b", L"C:\\a\\\\b"},
        {L"", L"", L""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.joined, FileUtils::joinPath(row.folder, row.name))
            << narrow(row.folder) << " + " << narrow(row.name);
    }
}

TEST(FileUtilsPaths, ClassifiesLocations) {
    struct Row {
        std::wstring path;
        FileUtils::PathLocation location;
    };
    const Row rows[] = {
        {L"", FileUtils::Invalid},
        {L"C", FileUtils::Invalid},
        {L"\\", FileUtils::Invalid},
        {L"\\x", FileUtils::Network},
        {L"\\\\server\\share\\setup.exe", FileUtils::Network},
        {L"C:\\windows\\setup.exe", FileUtils::Local},
        {L"c:", FileUtils::Local},
        {L"//server/share", FileUtils::Other},
        {L"Q:\\no-such-drive", FileUtils::Other},
        {L"/x", FileUtils::Other},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(row.location, FileUtils::getPathLocation(row.path)) << narrow(row.path);
    }
}

TEST(FileUtilsPaths, QueriesExistence) {
    const testsupport::ScratchDir scratch;
    const std::wstring file = scratch / L"file.txt";
    testsupport::writeFileBytes(file, "x");
    EXPECT_TRUE(FileUtils::pathExists(scratch.path()));
    EXPECT_TRUE(FileUtils::isDirectory(scratch.path()));
    EXPECT_TRUE(FileUtils::pathExists(file));
    EXPECT_FALSE(FileUtils::isDirectory(file));
    EXPECT_FALSE(FileUtils::pathExists(scratch / L"missing"));
    EXPECT_FALSE(FileUtils::isDirectory(scratch / L"missing"));
}

TEST(FileUtilsPaths, InvalidFileNameCharacters) {
    const std::wstring chars = FileUtils::invalidFileNameChars();
    ASSERT_EQ(41u, chars.size());
    for (wchar_t c = 0; c < 32; ++c) {
        EXPECT_EQ(c, chars[c]);
    }
    EXPECT_EQ(L"<>:\"|?*/\\", chars.substr(32));
}
