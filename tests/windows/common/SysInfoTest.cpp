#include "SysInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileUtils.h"
#include "TestSupport.h"
#include "tstrings.h"

namespace {

// A fake system call's state: what it answers and what it was asked.
struct FakeCalls {
    std::wstring path;
    std::vector<DWORD> sizes;
    DWORD firstAnswer = 0;  // when non-zero, the first call answers this without filling
};
FakeCalls fake;

DWORD WINAPI fakeModuleFileName(HMODULE, LPWSTR buffer, DWORD size) {
    fake.sizes.push_back(size);
    // Like GetModuleFileNameW: a cut, terminated path and the size when the room is too small.
    const std::size_t copied = std::min<std::size_t>(fake.path.size(), size - 1);
    fake.path.copy(buffer, copied);
    buffer[copied] = L'\0';
    return fake.path.size() >= size ? size : static_cast<DWORD>(fake.path.size());
}

DWORD WINAPI fakeTempPath(DWORD size, LPWSTR buffer) {
    fake.sizes.push_back(size);
    if (fake.path.empty()) {
        return 0;
    }
    if (fake.path.size() + 1 > size) {
        return static_cast<DWORD>(fake.path.size() + 1);
    }
    fake.path.copy(buffer, fake.path.size());
    buffer[fake.path.size()] = L'\0';
    return static_cast<DWORD>(fake.path.size());
}

UINT WINAPI fakeSystemDirectoryGrowing(LPWSTR, UINT size) {
    fake.sizes.push_back(size);
    return size + 10;
}

UINT WINAPI fakeSystemDirectoryFailing(LPWSTR, UINT size) {
    fake.sizes.push_back(size);
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
}

UINT WINAPI fakeSystemDirectoryOnce(LPWSTR buffer, UINT size) {
    fake.sizes.push_back(size);
    if (fake.path.size() + 1 > size) {
        return static_cast<UINT>(fake.path.size() + 1);
    }
    fake.path.copy(buffer, fake.path.size());
    buffer[fake.path.size()] = L'\0';
    return static_cast<UINT>(fake.path.size());
}

void resetFake(const std::wstring& path) {
    fake = FakeCalls();
    fake.path = path;
}

}  // namespace

TEST(SysInfo, ModulePathOfExactly260UnitsDoublesTheBuffer) {
    resetFake(L"C:\\" + std::wstring(257, L'p'));
    ASSERT_EQ(260u, fake.path.size());
    EXPECT_EQ(fake.path, SysInfo::seams::getModulePath(&fakeModuleFileName, nullptr));
    EXPECT_EQ((std::vector<DWORD>{260, 520}), fake.sizes);

    resetFake(L"C:\\" + std::wstring(256, L'p'));
    EXPECT_EQ(fake.path, SysInfo::seams::getModulePath(&fakeModuleFileName, nullptr));
    EXPECT_EQ((std::vector<DWORD>{260}), fake.sizes);
}

TEST(SysInfo, TempDirWithoutTrailingSeparators) {
    struct Row {
        std::wstring reported, expected;
        std::vector<DWORD> sizes;
    };
    const std::wstring longPath = L"C:\\" + std::wstring(296, L't');  // needs 300 units with the terminator
    const Row rows[] = {
        {L"C:\\Temp\\", L"C:\\Temp", {260}},
        {L"C:\\Temp\\\\/", L"C:\\Temp", {260}},
        {L"C:\\", L"C:", {260}},
        {L"", L"", {260}},
        {longPath + L"\\", longPath, {260, 301}},
        {std::wstring(L"C:\\") + std::wstring(295, L't') + L"\\",
         L"C:\\" + std::wstring(295, L't'),
         {260, 300}},
    };
    for (const Row& row : rows) {
        resetFake(row.reported);
        EXPECT_EQ(row.expected, SysInfo::seams::getTempDir(&fakeTempPath))
            << tstrings::toMultiByte(row.reported);
        EXPECT_EQ(row.sizes, fake.sizes) << tstrings::toMultiByte(row.reported);
    }
}

TEST(SysInfo, SystemDirAsksTwiceAtMost) {
    resetFake(L"C:\\windows\\system32\\");
    EXPECT_EQ(L"C:\\windows\\system32",
              SysInfo::seams::getSystemDir(&fakeSystemDirectoryOnce, "GetSystemDirectory"));

    resetFake(L"C:\\" + std::wstring(400, L's'));
    EXPECT_EQ(fake.path, SysInfo::seams::getSystemDir(&fakeSystemDirectoryOnce, "GetSystemDirectory"));
    EXPECT_EQ((std::vector<DWORD>{260, 405}), fake.sizes);

    resetFake(L"");
    try {
        SysInfo::seams::getSystemDir(&fakeSystemDirectoryGrowing, "GetSystemDirectory");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(
            testsupport::endsWith(e.what(), "::getSystemDirImpl(): Unexpected reply from GetSystemDirectory"))
            << e.what();
    }
    EXPECT_EQ((std::vector<DWORD>{260, 271}), fake.sizes);

    resetFake(L"");
    try {
        SysInfo::seams::getSystemDir(&fakeSystemDirectoryFailing, "GetSystemDirectory");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find(
                      "SysInfo::`anonymous-namespace'::getSystemDirImpl(): GetSystemDirectory failed. "
                      "System error [5]"))
            << e.what();
    }
}

TEST(SysInfo, RealQueries) {
    const std::wstring exe = SysInfo::getProcessModulePath();
    EXPECT_EQ(L"windows_common_test.exe", FileUtils::getFileName(exe));
    EXPECT_EQ(exe, SysInfo::getCurrentModulePath());
    EXPECT_EQ(GetModuleHandleW(nullptr), SysInfo::getCurrentModuleHandle());
    EXPECT_TRUE(tstrings::equals(L"C:\\windows\\system32", SysInfo::getSystemDir(), tstrings::IGNORE_CASE))
        << tstrings::toMultiByte(SysInfo::getSystemDir());
    const std::wstring temp = SysInfo::getTempDir();
    EXPECT_FALSE(temp.empty());
    EXPECT_NE(L'\\', temp.back());
    EXPECT_TRUE(FileUtils::isDirectory(temp));
    EXPECT_TRUE(SysInfo::isNativeAmd64());
}

TEST(SysInfo, TempDirFallsBackToGetTempPathWWithoutGetTempPath2W) {
    wchar_t buffer[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, buffer);
    EXPECT_EQ(FileUtils::removeTrailingSeparators(buffer), SysInfo::seams::getTempDir(nullptr));
    // Wine's kernel32 exports no GetTempPath2W: the real query is GetTempPathW's answer.
    EXPECT_EQ(SysInfo::seams::getTempDir(nullptr), SysInfo::getTempDir());
}

TEST(SysInfo, PathsInLongDriveLetterForm) {
    const std::pair<std::wstring, std::wstring> prefixes[] = {
        {L"\\\\?\\C:\\a\\b", L"C:\\a\\b"},
        {L"\\\\?\\UNC\\server\\share\\a", L"\\\\server\\share\\a"},
        {L"\\\\?\\Volume{1}\\a", L"\\\\?\\Volume{1}\\a"},
        {L"\\\\server\\share\\a", L"\\\\server\\share\\a"},
        {L"C:\\a", L"C:\\a"},
    };
    for (const auto& [given, expected] : prefixes) {
        EXPECT_EQ(expected, FileUtils::withoutLongPathPrefix(given)) << tstrings::toMultiByte(given);
    }

    const testsupport::ScratchDir scratch;
    const std::wstring folder = scratch / L"Long Folder Name";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring file = folder + L"\\setup.exe";
    testsupport::writeFileBytes(file, "MZ");
    wchar_t shortForm[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(file.c_str(), shortForm, MAX_PATH));
    ASSERT_NE(file, shortForm);
    // The launcher names its own file by the final path of its handle, whatever form it was started by.
    for (const std::wstring& form : {file, L"\\\\?\\" + file, std::wstring(shortForm)}) {
        const WinAutoHandle<HANDLE> opened(
            CreateFileW(form.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        EXPECT_EQ(file, FileUtils::finalPathOf(opened.get())) << tstrings::toMultiByte(form);
    }
}
