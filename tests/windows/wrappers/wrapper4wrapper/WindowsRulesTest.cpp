// Rules that Windows enforces and Wine does not, shown through what Wine does enforce: sharing between opens
// (which decides Windows' moves into a folder and a process's current directory), scanners holding new files,
// invisible window stations, and the longest path a program can be started from.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileUtils.h"
#include "LauncherRun.h"
#include "TestSupport.h"
#include "tstrings.h"

using testsupport::LauncherRun;
using testsupport::messagesOf;
using testsupport::runLauncher;

namespace {

DWORD openError(const std::wstring& path, DWORD access, DWORD share) {
    const HANDLE handle =
        CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const DWORD error = handle == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    CloseHandle(handle);
    return error;
}

}  // namespace

TEST(WindowsRules, WhileTheInstallerRunsMovesIntoItsFolderWorkAndDeletionIsRefused) {
    // On Windows a move into a folder opens the folder for FILE_ADD_FILE sharing read and write: refused by a
    // hold that doesn't share writing, the installer's own moves would fail.
    const testsupport::ScratchDir scratch(L"holdshare");
    CreateDirectoryW((scratch / L"temp").c_str(), nullptr);
    testsupport::RunningProcess launcher = testsupport::startProcess(
        testsupport::binPath(L"setup.exe"), {L"/exit=12", L"/waitfor=" + scratch / L"go"},
        testsupport::inTemp(scratch / L"temp", scratch / L"report.txt"));
    ASSERT_TRUE(testsupport::waitForFile(scratch / L"report.txt"));
    const std::wstring directory = testsupport::readDemoReport(scratch / L"report.txt").value("cwd");
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              openError(directory, FILE_ADD_FILE | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION),
              openError(directory, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    testsupport::writeFileBytes(scratch / L"go", "");
    EXPECT_EQ(12u, launcher.wait());
    EXPECT_TRUE(testsupport::kroEntries(scratch / L"temp").empty());
}

TEST(WindowsRules, ScannersHoldingNewEntriesDoNotFailTheRun) {
    // A scanner opens every new entry the moment it appears: sharing everything, or (as some do with a new
    // executable) not sharing deletion, which keeps the removal waiting until it lets go.
    for (const wchar_t* sharing : {L"rwd", L"rw"}) {
        const testsupport::ScratchDir scratch(L"scanned");
        const std::wstring temp = scratch / L"temp";
        CreateDirectoryW(temp.c_str(), nullptr);
        testsupport::RunningProcess scanner = testsupport::startProcess(
            testsupport::binPath(L"scanner.exe"), {temp, sharing, L"1000", scratch / L"stop"});
        testsupport::LauncherRunOptions options;
        options.tempDir = temp;
        const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {L"/exit=13"}, options);
        testsupport::writeFileBytes(scratch / L"stop", "");
        const DWORD held = scanner.wait();
        EXPECT_EQ(13u, run.exitCode) << tstrings::toMultiByte(sharing);
        EXPECT_GE(held, 3u) << "the scanner held the directory, the installer and the log";
        EXPECT_TRUE(testsupport::kroEntries(temp).empty()) << tstrings::toMultiByte(sharing);
    }
}

TEST(WindowsRules, NoNoticeOnAnInvisibleWindowStation) {
    // MessageBoxW never returns there (under Wine either): the run ends as a silent one. A run still going
    // after two minutes hangs and is ended.
    const testsupport::InvisibleDesktop desktop;
    const testsupport::ScratchDir temp(L"invisible");
    testsupport::ProcessOptions options = testsupport::inTemp(temp.path(), temp / L"report.txt");
    options.notElevated = true;
    options.desktop = desktop.name();
    testsupport::RunningProcess launcher =
        testsupport::startProcess(testsupport::binPath(L"setup.exe"), {}, options);
    DWORD exitCode = 0;
    ASSERT_TRUE(launcher.waitAtMost(120000, exitCode)) << "the launcher hangs on an invisible window station";
    EXPECT_EQ(0xFFFFFFFFu, exitCode);
    EXPECT_EQ(
        std::vector<std::wstring>{L"ERROR: Administrator privileges are required to run this application, "
                                  L"exiting."},
        messagesOf(testsupport::readLog(temp / L"vantor.log")));
}

TEST(WindowsRules, AnInstallerPathTooLongToStartFailsEarly) {
    const testsupport::ScratchDir scratch(L"deep");
    std::wstring temp = scratch.path();
    while (temp.size() < 236) {
        temp += L"\\" + std::wstring(std::min<std::size_t>(30, 236 - temp.size()), L'd');
        CreateDirectoryW(temp.c_str(), nullptr);
    }
    testsupport::LauncherRunOptions options;
    options.tempDir = temp;
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {}, options);
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    EXPECT_FALSE(run.report.present);
    const std::vector<std::wstring> messages = messagesOf(run.log);
    ASSERT_EQ(3u, messages.size());
    const std::wstring directory = messages[0].substr(16, messages[0].size() - 27);
    const std::wstring child = directory + L"\\setup.exe";
    EXPECT_EQ(L"ERROR: The installer's path [" + child + L"] is " + std::to_wstring(child.size()) +
                  L" characters long; Windows starts no program from a path longer than 259 characters, "
                  L"exiting.",
              messages[1]);
    EXPECT_EQ(L"TRACE: Deleted [" + directory + L"] directory", messages[2]);
    EXPECT_TRUE(testsupport::kroEntries(temp).empty());
}
