// A user who controls TEMP attacks the elevated launcher: TEMP is a link (a Unix link stands in for a
// junction: Wine resolves it anew at every open, as Windows does a junction) that the attacker re-points at
// moments the test build pauses at, and the working directory is swapped for a link before its removal.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CaseResult.h"
#include "FileUtils.h"
#include "LauncherRun.h"
#include "TestSupport.h"
#include "UnixLinks.h"
#include "tstrings.h"

using testsupport::readFileBytes;

namespace {

// Every entry below a folder, with the bytes of each file: what "untouched" is compared against.
std::vector<std::string> snapshotOf(const std::wstring& folder) {
    std::vector<std::wstring> entries;
    FileUtils::DirectoryIterator(folder, true, true, true).findItems(entries);
    std::vector<std::string> snapshot;
    for (const std::wstring& entry : entries) {
        snapshot.push_back(tstrings::toMultiByte(entry.substr(folder.size())) + "=" +
                           (FileUtils::isDirectory(entry) ? std::string("<dir>") : readFileBytes(entry)));
    }
    return snapshot;
}

}  // namespace

TEST(TempAttack, RePointingTempNeverRunsOrTouchesAnythingElse) {
    CaseResult result(
        "temp-re-pointed",
        "TEMP a link to folder one, re-pointed at folder two (holding the attacker's program under "
        "the working directory's and installer's names, and a 10 MiB vantor.log) right after the "
        "working directory is created, right after the installer lands, and right before the "
        "clean-up");
    const std::string bigLog(10485760 + 5, 'v');
    for (const wchar_t* moment : {L"directory-created", L"installer-written", L"installer-ended"}) {
        SCOPED_TRACE(tstrings::toMultiByte(moment));
        testsupport::SwitchableTemp temp;
        const testsupport::ScratchDir scratch(L"attack");
        testsupport::PausedLauncher launcher(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=21"}, moment,
                                             testsupport::inTemp(temp.link(), scratch / L"report.txt"));
        const std::wstring paused = launcher.waitForPause();
        const std::wstring dirName = FileUtils::getFileName(
            moment == std::wstring(L"installer-written") ? FileUtils::getDirectory(paused) : paused);
        const std::wstring attackerDir = temp.two() + L"\\" + dirName;
        ASSERT_TRUE(CreateDirectoryW(attackerDir.c_str(), nullptr))
            << GetLastError() << " " << tstrings::toMultiByte(attackerDir);
        ASSERT_TRUE(CopyFileW(testsupport::binPath(L"demo-installer.exe").c_str(),
                              (attackerDir + L"\\setup-hooks.exe").c_str(), FALSE));
        testsupport::writeFileBytes(temp.two() + L"\\vantor.log", bigLog);
        const std::vector<std::string> before = snapshotOf(temp.two());
        temp.pointAt(temp.two());

        const DWORD exitCode = launcher.finish();
        result.count("attacks", 1);
        const testsupport::DemoReport report = testsupport::readDemoReport(scratch / L"report.txt");
        result.check(
            exitCode == 21 && report.value("path") == temp.one() + L"\\" + dirName + L"\\setup-hooks.exe",
            "the installer written into folder one ran and its exit code came back");
        result.check(snapshotOf(temp.two()) == before,
                     "folder two untouched: the attacker's program never ran, no log written or emptied");
        const std::vector<std::wstring> messages =
            testsupport::messagesOf(testsupport::readLog(temp.one() + L"\\vantor.log"));
        result.check(!messages.empty() && messages.back() == L"TRACE: Deleted [" + temp.one() + L"\\" +
                                                                 dirName + L"] directory",
                     "every record went to folder one, the last one the directory's removal");
        const std::size_t left = testsupport::kroEntries(temp.one()).size();
        result.count("left", static_cast<long long>(left));
        result.check(left == 0, "nothing left in folder one");
    }
}

namespace {

// The released working directory renamed away and, under its name, a link to a folder of files, or another
// real directory with a file of its own.
void swapReleasedDirectory(CaseResult& result, bool link) {
    testsupport::SwitchableTemp temp;  // folder one is TEMP itself here; folder two is the victim
    testsupport::writeFileBytes(temp.two() + L"\\precious.txt", "precious");
    CreateDirectoryW((temp.two() + L"\\sub").c_str(), nullptr);
    testsupport::writeFileBytes(temp.two() + L"\\sub\\more.txt", "more");
    const std::vector<std::string> victim = snapshotOf(temp.two());
    const testsupport::ScratchDir scratch(L"swap");
    testsupport::PausedLauncher launcher(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=22"},
                                         L"hold-released",
                                         testsupport::inTemp(temp.one(), scratch / L"report.txt"));
    const std::wstring directory = launcher.waitForPause();
    // The ended installer's console host (Wine starts one for a console program started without a window)
    // still has the directory as its working directory for a moment: the move is tried until it lets go.
    DWORD moveError = ERROR_SUCCESS;
    testsupport::waitUntil([&] {
        moveError = MoveFileExW(directory.c_str(), (directory + L".away").c_str(), 0) ? ERROR_SUCCESS
                                                                                      : GetLastError();
        return moveError != ERROR_SHARING_VIOLATION;
    });
    result.check(moveError == ERROR_SUCCESS,
                 "the released directory could be renamed away (it was already empty)");
    if (link) {
        testsupport::pointUnixLink(directory, temp.two());
    } else {
        CreateDirectoryW(directory.c_str(), nullptr);
        testsupport::writeFileBytes(directory + L"\\x", "x");
    }
    const DWORD exitCode = launcher.finish();
    result.count("attacks", 1);

    result.check(exitCode == 22, "the installer's exit code came back");
    result.check(snapshotOf(temp.two()) == victim && (link || readFileBytes(directory + L"\\x") == "x"),
                 "the linked folder, the other directory and their files untouched");
    const std::vector<std::wstring> messages =
        testsupport::messagesOf(testsupport::readLog(temp.one() + L"\\vantor.log"));
    result.check(
        !messages.empty() && messages.back() == L"WARNING: [" + directory +
                                                    L"] no longer names the secure directory; what is "
                                                    L"there was left alone",
        "a WARNING record names what was left");
    if (!link) {
        testsupport::removeTree(directory);
    }
}

}  // namespace

TEST(TempAttack, AWorkingDirectorySwappedForALinkOrAnotherDirectoryIsLeftAlone) {
    CaseResult result(
        "clean-up-swap",
        "after the installer ended and the launcher let go of its directory: the directory renamed "
        "away and a link to a folder of files, or another real directory with a file, put under its name");
    swapReleasedDirectory(result, true);
    swapReleasedDirectory(result, false);
}

TEST(TempAttack, AProgramSwappedInOnTheShareNeverRuns) {
    CaseResult result("share-swap",
                      "the launcher started from the network drive N:, its file renamed away and another "
                      "program put under its name, before the launcher holds its file and after");
    for (const wchar_t* moment : {L"image-not-held", L"before-directory"}) {
        SCOPED_TRACE(tstrings::toMultiByte(moment));
        const testsupport::ScratchDir scratch(L"share");
        const testsupport::ScratchDir share(L"share", L"N:");
        const std::wstring launcherPath = share / L"setup-hooks.exe";
        ASSERT_TRUE(CopyFileW(testsupport::binPath(L"setup-hooks.exe").c_str(), launcherPath.c_str(), FALSE));
        CreateDirectoryW((scratch / L"temp").c_str(), nullptr);
        testsupport::PausedLauncher launcher(launcherPath, {L"/exit=23"}, moment,
                                             testsupport::inTemp(scratch / L"temp", scratch / L"report.txt"));
        launcher.waitForPause();
        // The other program answers 7 (elevation-probe: elevated, listed, and so by the older rule).
        const bool swapped =
            MoveFileExW(launcherPath.c_str(), (launcherPath + L".away").c_str(), 0) &&
            CopyFileW(testsupport::binPath(L"elevation-probe.exe").c_str(), launcherPath.c_str(), FALSE);
        const DWORD exitCode = launcher.finish();
        result.count("attacks", 1);
        const std::vector<std::wstring> messages =
            testsupport::messagesOf(testsupport::readLog(scratch / L"temp\\vantor.log"));
        const bool refused =
            exitCode == 0xFFFFFFFFu && !messages.empty() &&
            messages.back().find(
                L"] is not the program that runs: it was replaced after the start, exiting") !=
                std::wstring::npos;
        const bool installerRan =
            exitCode == 23u && testsupport::readDemoReport(scratch / L"report.txt").present;
        result.check(exitCode != 7u && (refused || installerRan),
                     std::string(swapped ? "swapped " : "the swap refused ") + tstrings::toMultiByte(moment) +
                         ": " + (refused ? "-1 with its ERROR record" : "the real installer ran"));
        result.count("left", static_cast<long long>(testsupport::kroEntries(scratch / L"temp").size()));
    }
}
