// The launcher's steps driven directly: argument quoting, the silent-run keys, the secure directory.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "ChildProcess.h"
#include "LocalMemory.h"
#include "PrivilegeGate.h"
#include "SecureDirectory.h"
#include "TestSupport.h"

namespace {

// Splits a command line the way the shell and the C runtime do.
std::vector<std::wstring> parse(const std::wstring& commandLine) {
    int count = 0;
    LocalMemory<LPWSTR> argv(CommandLineToArgvW(commandLine.c_str(), &count));
    return std::vector<std::wstring>(argv.get(), argv.get() + count);
}

std::wstring commandLineFor(const std::vector<std::wstring>& arguments) {
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"C:\\dist\\setup.exe")};
    for (const std::wstring& argument : arguments) {
        argv.push_back(const_cast<wchar_t*>(argument.c_str()));
    }
    return getCommandLine(L"C:\\T\\kro1.tmp\\setup.exe", static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(LauncherSteps, CommandLinesGiveTheChildExactlyTheLaunchersArguments) {
    struct Row {
        std::vector<std::wstring> arguments;
        std::wstring commandLine;
    };
    const std::wstring child = L"\"C:\\T\\kro1.tmp\\setup.exe\"";
    const Row rows[] = {
        {{}, child},
        {{L"/s"}, child + L" \"/s\""},
        {{L"INSTALL_SILENT=1", L"C:\\Program Files\\X"},
         child + L" \"INSTALL_SILENT=1\" \"C:\\Program Files\\X\""},
        {{L""}, child + L" \"\""},
        {{L"a\"b"}, child + L" \"a\\\"b\""},
        {{L"C:\\dir\\", L"next"}, child + L" \"C:\\dir\\\\\" \"next\""},
        {{L"INSTALLDIR=C:\\Apps\\"}, child + L" \"INSTALLDIR=C:\\Apps\\\\\""},
        {{L"a\\\\\"b"}, child + L" \"a\\\\\\\\\\\"b\""},
        {{L"tab\there", L"caf\u00E9 \u65E5"}, child + L" \"tab\there\" \"caf\u00E9 \u65E5\""},
        {{L"\\\\server\\share"}, child + L" \"\\\\server\\share\""},
    };
    for (const Row& row : rows) {
        const std::wstring commandLine = commandLineFor(row.arguments);
        EXPECT_EQ(row.commandLine, commandLine);
        std::vector<std::wstring> expected = {L"C:\\T\\kro1.tmp\\setup.exe"};
        expected.insert(expected.end(), row.arguments.begin(), row.arguments.end());
        EXPECT_EQ(expected, parse(commandLine)) << tstrings::toMultiByte(commandLine);
    }
}

TEST(LauncherSteps, NullEntriesAndAMissingVector) {
    wchar_t* argv[] = {const_cast<wchar_t*>(L"setup.exe"), nullptr};
    EXPECT_EQ(L"\"C:\\x.exe\" \"NULL\"", getCommandLine(L"C:\\x.exe", 2, argv));
    try {
        getCommandLine(L"C:\\x.exe", 0, nullptr);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_NE(std::string::npos,
                  what.find(") at `anonymous-namespace'::getCommandLine(): __targv is NULL"))
            << what;
    }
}

TEST(LauncherSteps, SilentRunsAreExactWholeArguments) {
    struct Row {
        std::vector<std::wstring> arguments;
        bool silent;
    };
    const Row rows[] = {
        {{}, false},
        {{L"/s"}, true},
        {{L"/S"}, false},
        {{L"INSTALL_SILENT=Enable"}, true},
        {{L"INSTALL_SILENT=enable"}, false},
        {{L"install_silent=1"}, false},
        {{L"a", L"b", L"INSTALL_SILENT=1"}, true},
        {{L"INSTALL_SILENT=1 "}, false},
        {{L"X=1 INSTALL_SILENT=1"}, false},
    };
    for (const Row& row : rows) {
        std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"C:\\dist\\setup.exe")};
        for (const std::wstring& argument : row.arguments) {
            argv.push_back(const_cast<wchar_t*>(argument.c_str()));
        }
        EXPECT_EQ(row.silent, isSilentInstall(static_cast<int>(argv.size()), argv.data()))
            << (row.arguments.empty() ? "" : tstrings::toMultiByte(row.arguments.back()));
    }
    wchar_t* ownPathOnly[] = {const_cast<wchar_t*>(L"/s")};
    EXPECT_TRUE(isSilentInstall(1, ownPathOnly)) << "the launcher's own path is looked at too";
}

namespace {

std::wstring requestedSddl;
SECURITY_DESCRIPTOR_CONTROL requestedControl = 0;
BOOL WINAPI recordingCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES attributes) {
    requestedSddl.clear();
    wchar_t* text = nullptr;
    if (attributes != nullptr && attributes->nLength == sizeof(SECURITY_ATTRIBUTES) &&
        !attributes->bInheritHandle &&
        ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                SACL_SECURITY_INFORMATION,
            &text, nullptr)) {
        const LocalMemory<wchar_t> owner(text);
        requestedSddl = text;
        DWORD revision = 0;
        GetSecurityDescriptorControl(attributes->lpSecurityDescriptor, &requestedControl, &revision);
    }
    return CreateDirectoryW(path, attributes);
}

BOOL WINAPI failingCreateDirectory(LPCWSTR, LPSECURITY_ATTRIBUTES) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
}

}  // namespace

TEST(LauncherSteps, SecureDirectoryAsksForAProtectedAdministratorsOnlyList) {
    testsupport::removeLog();
    const std::wstring path = createSecureDirectory(&recordingCreateDirectory);
    EXPECT_EQ(L"D:P(A;;FA;;;BA)", requestedSddl) << "exactly one entry, protected from inheritance";
    EXPECT_NE(0, requestedControl & SE_DACL_PROTECTED);
    EXPECT_NE(0, requestedControl & SE_DACL_PRESENT);
    EXPECT_TRUE(FileUtils::isDirectory(path));
    const std::wstring name = FileUtils::getFileName(path);
    EXPECT_EQ(SysInfo::getTempDir(), FileUtils::getDirectory(path));
    EXPECT_EQ(0u, name.find(L"kro"));
    EXPECT_EQ(name.size() - 4, name.find(L".tmp"));
    EXPECT_EQ(std::wstring::npos, name.substr(3, name.size() - 7).find_first_not_of(L"-0123456789"));
    const auto records = testsupport::readLog();
    ASSERT_EQ(2u, records.size()) << "the name is claimed as a file, freed, then taken by the directory";
    EXPECT_EQ(L"Created [" + path + L"] file", records[0].message);
    EXPECT_EQ(L"Deleted [" + path + L"] file", records[1].message);
    RemoveDirectoryW(path.c_str());
}

TEST(LauncherSteps, ANameTakenInTheGapIsAnErrorAndLeavesNothing) {
    try {
        createSecureDirectory(&failingCreateDirectory);
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        const std::string what = e.what();
        EXPECT_NE(std::string::npos,
                  what.find(") at `anonymous-namespace'::createSecureDirectory(): CreateDirectory("))
            << what;
        EXPECT_NE(std::string::npos, what.find(") failed. System error [183]")) << what;
    }
    std::vector<std::wstring> left;
    FileUtils::DirectoryIterator(SysInfo::getTempDir(), false, true, true).findItems(left);
    for (const std::wstring& entry : left) {
        EXPECT_NE(0u, FileUtils::getFileName(entry).find(L"kro")) << tstrings::toMultiByte(entry);
    }
}

TEST(LauncherSteps, TheContentCheckAcceptsOnlyTheChild) {
    const testsupport::ScratchDir scratch;
    const std::wstring dir = scratch.path();
    const std::wstring child = dir + L"\\setup.exe";
    EXPECT_FALSE(isSecureDirectoryIntact(dir, child)) << "empty";
    testsupport::writeFileBytes(child, "MZ");
    EXPECT_TRUE(isSecureDirectoryIntact(dir, child));
    EXPECT_TRUE(isSecureDirectoryIntact(dir, dir + L"\\SETUP.EXE")) << "ASCII letters compare without case";
    EXPECT_FALSE(isSecureDirectoryIntact(dir, dir + L"\\other.exe"));
    CreateDirectoryW((dir + L"\\sub").c_str(), nullptr);
    EXPECT_FALSE(isSecureDirectoryIntact(dir, child)) << "an empty folder counts";
    testsupport::writeFileBytes(dir + L"\\sub\\x", "");
    EXPECT_FALSE(isSecureDirectoryIntact(dir, child));
    EXPECT_FALSE(isSecureDirectoryIntact(dir + L"\\missing", child)) << "a vanished directory, no error";

    const testsupport::ScratchDir other;
    testsupport::writeFileBytes(other / L"\u00C4.exe", "MZ");
    EXPECT_FALSE(isSecureDirectoryIntact(other.path(), other / L"\u00E4.exe"))
        << "letters beyond ASCII keep case";
}
