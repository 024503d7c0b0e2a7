// What earlier runs left in TEMP (a killed run, a removal that gave up) is removed by the next run, and
// nothing else is: not what a user made, not another launcher's directory, not a lookalike, not what a link
// points to, not a tree deeper than any run of ours makes. Wine keeps no owners: the test build's
// KRO_TEST_OWNER=Administrators makes every directory count as an administrator's.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "FileRemoval.h"
#include "FileUtils.h"
#include "LauncherRun.h"
#include "TestSupport.h"
#include "UnixLinks.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

using testsupport::LauncherRun;
using testsupport::messagesOf;

namespace {

const std::wstring oneLeftoverRemoved = L"INFO: Leftovers of earlier runs removed: 1";

// A run of the test build in the given TEMP, taking every directory for an administrator's, with the log
// emptied first so that it holds this run only.
LauncherRun runIn(const std::wstring& temp, const std::vector<std::wstring>& arguments) {
    DeleteFileW((temp + L"\\vantor.log").c_str());
    testsupport::LauncherRunOptions options;
    options.tempDir = temp;
    options.process.environment[L"KRO_TEST_OWNER"] = L"Administrators";
    return testsupport::runLauncher(testsupport::binPath(L"setup-hooks.exe"), arguments, options);
}

bool contains(const std::vector<std::wstring>& messages, const std::wstring& message) {
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::wstring warningNotRemoved(const std::wstring& directory, const std::wstring& left) {
    return L"WARNING: Could not remove [" + directory + L"]: [" + left +
           L"] still in use; the next run removes it";
}

std::wstring leftForTheNextRun(int removed, const std::wstring& paths) {
    return L"WARNING: Leftovers of earlier runs removed: " + std::to_wstring(removed) +
           L"; left for the next run: " + paths;
}

// A launcher whose installer waits for the file "go" in scratch; returns once the installer runs.
testsupport::RunningProcess startWaiting(const testsupport::ScratchDir& scratch, const std::wstring& temp,
                                         const std::vector<std::wstring>& extra) {
    std::vector<std::wstring> arguments = {L"/waitfor=" + scratch / L"go"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    testsupport::RunningProcess launcher = testsupport::startProcess(
        testsupport::binPath(L"setup.exe"), arguments, testsupport::inTemp(temp, scratch / L"report.txt"));
    EXPECT_TRUE(testsupport::waitForFile(scratch / L"report.txt"));
    return launcher;
}

std::wstring workingDirectoryOf(const testsupport::ScratchDir& scratch) {
    return testsupport::readDemoReport(scratch / L"report.txt").value("cwd");
}

}  // namespace

TEST(Leftovers, AKilledRunIsRemovedByTheNextUnlessItIsStillHeld) {
    const testsupport::ScratchDir scratch(L"killed");
    const std::wstring temp = scratch / L"temp";
    CreateDirectoryW(temp.c_str(), nullptr);
    testsupport::RunningProcess launcher = startWaiting(scratch, temp, {});
    const std::wstring directory = workingDirectoryOf(scratch);
    const std::wstring installer = directory + L"\\setup.exe";
    // As a deployment tool's time-out would: the launcher, then its installer.
    const std::vector<DWORD> children = testsupport::childProcessIds(launcher.handle());
    TerminateProcess(launcher.handle(), 1);
    launcher.wait();
    for (const DWORD id : children) {
        const WinAutoHandle<HANDLE> child(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
        TerminateProcess(child.get(), 1);
        WaitForSingleObject(child.get(), INFINITE);
    }
    ASSERT_TRUE(FileUtils::pathExists(installer));
    {
        // A program that still holds a file of it: the leftover stays, the run goes on.
        const WinAutoHandle<HANDLE> holder(CreateFileW(installer.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                       nullptr, OPEN_EXISTING, 0, nullptr));
        const LauncherRun held = runIn(temp, {L"/exit=3"});
        EXPECT_EQ(3u, held.exitCode);
        EXPECT_TRUE(FileUtils::pathExists(installer));
        EXPECT_TRUE(contains(messagesOf(held.log), leftForTheNextRun(0, L"[" + directory + L"]")));
    }
    const LauncherRun next = runIn(temp, {});
    EXPECT_EQ(0u, next.exitCode);
    EXPECT_TRUE(contains(messagesOf(next.log), oneLeftoverRemoved));
    EXPECT_TRUE(contains(messagesOf(next.log), L"TRACE: Deleted [" + installer + L"] file"));
    EXPECT_EQ(std::vector<std::wstring>{}, testsupport::kroEntries(temp)) << "nothing of either run is left";
}

TEST(Leftovers, NothingButOurOwnDirectoriesIsEnteredOrTouched) {
    const testsupport::SwitchableTemp folders;  // one is TEMP, two the folder a link points to
    const std::wstring temp = folders.one();
    testsupport::writeFileBytes(folders.two() + L"\\keep.txt", "keep");
    testsupport::pointUnixLink(temp + L"\\kro123.tmp", folders.two());
    for (const wchar_t* name : {L"krox.tmp", L"kro12.tmp.bak", L"kro7.tmp", L"kro8.tmp", L"kro9.tmp"}) {
        CreateDirectoryW((temp + L"\\" + name).c_str(), nullptr);
    }
    testsupport::writeFileBytes(temp + L"\\kro7.tmp\\setup.exe", "MZ");
    // A hard link to a read-only file elsewhere: the file's attribute belongs to both names.
    const std::wstring readOnly = folders.two() + L"\\read-only.txt";
    testsupport::writeFileBytes(readOnly, "read-only");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateHardLinkW((temp + L"\\kro8.tmp\\linked.txt").c_str(), readOnly.c_str(), nullptr));
    // Deeper than any run of ours: the walk leaves what lies below its limit, and keeps its stack.
    std::wstring deep = L"\\\\?\\" + temp + L"\\kro9.tmp";
    for (std::size_t depth = 0; depth <= FileUtils::deepestRemovedFolder; ++depth) {
        deep += L"\\d";
        ASSERT_TRUE(CreateDirectoryW(deep.c_str(), nullptr));
    }

    const LauncherRun run = runIn(temp, {L"/exit=6"});
    EXPECT_EQ(6u, run.exitCode);
    EXPECT_EQ("keep", testsupport::readFileBytes(folders.two() + L"\\keep.txt"));
    EXPECT_EQ("read-only", testsupport::readFileBytes(readOnly));
    EXPECT_NE(0u, GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(FileUtils::isDirectory(temp + L"\\krox.tmp"));
    EXPECT_TRUE(FileUtils::isDirectory(temp + L"\\kro12.tmp.bak"));
    EXPECT_FALSE(FileUtils::pathExists(temp + L"\\kro7.tmp"));
    EXPECT_TRUE(FileUtils::pathExists(deep)) << "the deepest folder is left";
    std::wstring summary;
    for (const std::wstring& message : messagesOf(run.log)) {
        summary += message.find(L"Leftovers of earlier runs") != std::wstring::npos ? message : L"";
        EXPECT_EQ(std::wstring::npos, message.find(L"kro123.tmp")) << "the link gets no record of its own";
    }
    EXPECT_EQ(0u, summary.find(leftForTheNextRun(1, L"["))) << "one summary record";
    for (const wchar_t* left : {L"\\kro8.tmp]", L"\\kro9.tmp]"}) {
        EXPECT_NE(std::wstring::npos, summary.find(L"[" + temp + left)) << tstrings::toMultiByte(summary);
    }
}

TEST(Leftovers, ARunningLaunchersDirectoryIsNeverTouched) {
    const testsupport::ScratchDir scratch(L"running");
    const std::wstring temp = scratch / L"temp";
    CreateDirectoryW(temp.c_str(), nullptr);
    testsupport::RunningProcess first = startWaiting(scratch, temp, {L"/exit=7", L"/touch=written.txt"});
    const std::wstring directory = workingDirectoryOf(scratch);
    std::vector<std::wstring> before;
    FileUtils::DirectoryIterator(directory, true, true, true).findItems(before);
    EXPECT_EQ(2u, before.size()) << "the installer and the file it wrote and closed";

    EXPECT_EQ(8u, runIn(temp, {L"/exit=8"}).exitCode);
    std::vector<std::wstring> after;
    FileUtils::DirectoryIterator(directory, true, true, true).findItems(after);
    EXPECT_EQ(before, after);

    testsupport::writeFileBytes(scratch / L"go", "");
    EXPECT_EQ(7u, first.wait());
    EXPECT_EQ(std::vector<std::wstring>{}, testsupport::kroEntries(temp));
}

namespace {

std::string pendingRenames() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        return {};
    }
    const WinAutoHandle<HKEY> owner(key);
    std::string value(65536, '\0');
    DWORD size = static_cast<DWORD>(value.size());
    if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value[0]), &size) != ERROR_SUCCESS) {
        return {};
    }
    value.resize(size);
    return value;
}

}  // namespace

TEST(Leftovers, TheRemovalWaitsForAHolderAndGivesUpLeavingItToTheNextRun) {
    // A program the installer started holds a file in the working directory: for a moment (the removal waits
    // and succeeds), or past the removal's deadline (it gives up and says so).
    for (const bool letsGo : {true, false}) {
        SCOPED_TRACE(letsGo ? "lets go after a second" : "never lets go");
        const testsupport::ScratchDir scratch(L"giveup");
        const std::wstring temp = scratch / L"temp";
        CreateDirectoryW(temp.c_str(), nullptr);
        testsupport::RunningProcess launcher = startWaiting(scratch, temp, {L"/exit=9", L"/touch=held.txt"});
        const std::wstring directory = workingDirectoryOf(scratch);
        const std::wstring held = directory + L"\\held.txt";
        {
            const WinAutoHandle<HANDLE> holder(
                CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            testsupport::writeFileBytes(scratch / L"go", "");
            if (letsGo) {
                Sleep(1000);
            } else {
                EXPECT_EQ(9u, launcher.wait()) << "the installer's exit code, whatever is left";
            }
        }
        if (letsGo) {
            EXPECT_EQ(9u, launcher.wait());
        }
        const std::vector<std::wstring> messages = messagesOf(testsupport::readLog(temp + L"\\vantor.log"));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(
            letsGo ? L"TRACE: Deleted [" + directory + L"] directory" : warningNotRemoved(directory, held),
            messages.back());
        // Other tests may schedule renames of their own meanwhile: only one naming this directory is ours.
        const std::wstring name = FileUtils::getFileName(directory);
        EXPECT_EQ(std::string::npos,
                  pendingRenames().find(
                      std::string(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t))))
            << "nothing is scheduled for deletion at restart";

        const LauncherRun next = runIn(temp, {});
        EXPECT_EQ(!letsGo, contains(messagesOf(next.log), oneLeftoverRemoved));
        EXPECT_EQ(std::vector<std::wstring>{}, testsupport::kroEntries(temp));
    }
}

TEST(Leftovers, TheLogKeepsEveryRecordWithTempAtTheRootOfTheCurrentDrive) {
    // Drive T: is a folder of ours (a link in the prefix's dosdevices); TEMP is "T:\" and the current
    // directory T:\work, so "T:" alone would mean T:\work. Until Wine's server restarts the drive has no
    // kernel name, as an unknown RAM disk on Windows: the run works elsewhere, the log stays in TEMP.
    wchar_t prefix[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH));
    const testsupport::SwitchableTemp folders;
    const std::wstring drive = L"Z:" + std::wstring(prefix) + L"\\dosdevices\\t:";
    testsupport::pointUnixLink(drive, folders.one());
    CreateDirectoryW(L"T:\\work", nullptr);
    testsupport::LauncherRunOptions options;
    options.tempDir = L"T:\\";
    options.process.currentDirectory = L"T:\\work";
    const LauncherRun run =
        testsupport::runLauncher(testsupport::binPath(L"setup.exe"), {L"/exit=4"}, options);
    testsupport::removeUnixTree(drive);
    EXPECT_EQ(4u, run.exitCode);
    const std::vector<std::wstring> messages = messagesOf(run.log);
    ASSERT_EQ(7u, messages.size());
    EXPECT_EQ(0u, messages[0].find(L"TRACE: Created [C:\\windows\\temp\\kro"))
        << tstrings::toMultiByte(messages[0]);
    EXPECT_EQ(0u, messages[1].find(L"WARNING: TEMP [T:] has no kernel name to check the started installer "
                                   L"against; the working directory goes to ["))
        << tstrings::toMultiByte(messages[1]);
    EXPECT_EQ(L"INFO: NOT on network drive", messages[2]);
}

TEST(Leftovers, LinksTheInstallerLeavesAreNeverFollowed) {
    // Links to a folder (symbolic link and junction alike under Wine: Unix links) and to a file outside, left
    // in the working directory by the installer. Windows removes them as links; Wine opens their targets even
    // when asked for the links, so here they stay, named in the WARNING, and what they point to is untouched.
    const testsupport::SwitchableTemp folders;
    testsupport::writeFileBytes(folders.two() + L"\\keep.txt", "keep");
    testsupport::PausedLauncher launcher(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=4"},
                                         L"installer-ended",
                                         testsupport::inTemp(folders.one(), folders.one() + L"\\report.txt"));
    const std::wstring dir = launcher.waitForPause();
    const std::vector<std::wstring> links = {dir + L"\\file-link", dir + L"\\folder-link",
                                             dir + L"\\junction"};
    testsupport::pointUnixLink(links[0], folders.two() + L"\\keep.txt");
    testsupport::pointUnixLink(links[1], folders.two());
    testsupport::pointUnixLink(links[2], folders.two());
    EXPECT_EQ(4u, launcher.finish());
    EXPECT_EQ("keep", testsupport::readFileBytes(folders.two() + L"\\keep.txt"));
    // Named as left over, in the file system's order.
    const std::vector<std::wstring> messages =
        messagesOf(testsupport::readLog(folders.one() + L"\\vantor.log"));
    const auto left = std::find_if(messages.begin(), messages.end(), [&](const std::wstring& m) {
        return m.rfind(L"WARNING: Could not remove [" + dir + L"]: [", 0) == 0;
    });
    ASSERT_NE(messages.end(), left);
    for (const std::wstring& link : links) {
        EXPECT_NE(std::wstring::npos, left->find(L"[" + link + L"]")) << tstrings::toMultiByte(*left);
    }
}
