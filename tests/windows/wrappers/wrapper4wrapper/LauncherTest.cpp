// The launcher end to end: real launchers with the demo installer as payload, run as processes under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileUtils.h"
#include "LauncherRun.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"
#include "tstrings.h"

using testsupport::LauncherRun;
using testsupport::messagesOf;
using testsupport::messagesWithoutTimes;
using testsupport::runLauncher;

namespace {

const std::wstring adminRecord =
    L"ERROR: Administrator privileges are required to run this application, exiting.";

// The secure directory the run used, read from the record of its creation; empty when there is none.
std::wstring secureDirectoryOf(const LauncherRun& run, std::size_t index = 0) {
    const std::wstring prefix = L"Created [";
    const std::wstring suffix = L"] directory";
    for (const auto& record : run.log) {
        const std::wstring& m = record.message;
        if (m.rfind(prefix, 0) == 0 && m.size() > suffix.size() &&
            m.compare(m.size() - suffix.size(), suffix.size(), suffix) == 0 && index-- == 0) {
            return m.substr(prefix.size(), m.size() - prefix.size() - suffix.size());
        }
    }
    return {};
}

// The record of the child's end, as messagesWithoutTimes gives it.
std::wstring endRecord(const std::wstring& child, const std::wstring& code) {
    return L"INFO: [" + child + L"] ended with exit code " + code + L" after N s";
}

// The records of a payload run, in order, with the paths of this run.
std::vector<std::wstring> payloadRunRecords(const std::wstring& dir, const std::wstring& name,
                                            const std::wstring& code) {
    const std::wstring child = dir + L"\\" + name;
    return {L"TRACE: Created [" + dir + L"] directory", L"INFO: NOT on network drive",
            L"TRACE: Created [" + child + L"] file",    endRecord(child, code),
            L"TRACE: Deleted [" + child + L"] file",    L"TRACE: Deleted [" + dir + L"] directory"};
}

}  // namespace

TEST(Launcher, LocalRunPassesEveryArgumentUnchanged) {
    const std::vector<std::wstring> arguments = {
        L"",          L"two words",    L"tab\there", L"a\"quoted\"b",
        L"\"",        L"C:\\Apps\\",   L"back\\\\",  L"x\\\"y",
        L"caf\u00E9", L"\u65E5\u672C", L"/exit=7",   L"INSTALLDIR=C:\\Program Files\\",
    };
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), arguments);
    EXPECT_EQ(7u, run.exitCode);
    ASSERT_TRUE(run.report.present);
    EXPECT_EQ(arguments, run.report.all("arg"));

    const std::wstring dir = secureDirectoryOf(run);
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(run.tempDir, FileUtils::getDirectory(dir));
    EXPECT_EQ(dir, run.report.value("cwd")) << "the child runs from the secure directory";
    EXPECT_EQ(dir + L"\\setup.exe", run.report.value("path")) << "under the launcher's own name";
    EXPECT_EQ(L"1", run.report.value("elevated"));
    EXPECT_EQ(run.tempDir, run.report.value("temp")) << "TEMP used: the launcher's own environment";
    EXPECT_EQ(payloadRunRecords(dir, L"setup.exe", L"7 (0x00000007)"), messagesWithoutTimes(run.log));
    for (const auto& record : run.log) {
        EXPECT_EQ(L"setup.exe", record.processName);
    }
    EXPECT_EQ(L"`anonymous-namespace'::run", run.log[1].function);
    EXPECT_EQ(L"Launcher.cpp", run.log[1].file);
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(Launcher, TheInstallerSeesTheCommandLineAsTyped) {
    // A copy in a folder with a space, for a quoted program name; and one on drive N:, the network branch.
    const testsupport::ScratchDir spaced(L"with space");
    const std::wstring quotedCopy = spaced / L"setup.exe";
    const testsupport::ScratchDir share(L"typed", L"N:");
    const std::wstring networkCopy = share / L"setup-typed.exe";
    for (const std::wstring& copy : {quotedCopy, networkCopy}) {
        ASSERT_TRUE(CopyFileW(testsupport::binPath(L"setup.exe").c_str(), copy.c_str(), FALSE));
    }
    const struct {
        std::wstring program, name, tail;
    } rows[] = {
        {testsupport::binPath(L"setup.exe"), L"setup.exe", L""},
        {testsupport::binPath(L"setup.exe"), L"setup.exe", L"  /S \t /D=C:\\Program Files\\Demo App"},
        {quotedCopy, L"\"" + quotedCopy + L"\"", L" /v\"/qn INSTALLDIR=\\\"C:\\Program Files\\X\\\"\""},
        {testsupport::binPath(L"setup.exe"), L"setup.exe",
         L"\tPROPERTY=\"value with spaces\" C:\\dir\\ \"\" caf\u00E9"},
        {networkCopy, networkCopy, L" /quiet  \"a b\"\\ \u65E5\u672C"},
    };
    for (const auto& row : rows) {
        testsupport::LauncherRunOptions options;
        options.process.commandLine = row.name + row.tail;
        const LauncherRun run = runLauncher(row.program, {}, options);
        EXPECT_EQ(0u, run.exitCode) << tstrings::toMultiByte(row.tail);
        const std::wstring child = run.report.value("path");
        ASSERT_FALSE(child.empty()) << tstrings::toMultiByte(row.tail);
        EXPECT_EQ(L"\"" + child + L"\"" + row.tail, run.report.value("commandLine"))
            << tstrings::toMultiByte(row.tail);
    }
}

TEST(Launcher, NoArgumentsAndExitCodesComeBackUnchanged) {
    const LauncherRun none = runLauncher(testsupport::binPath(L"setup.exe"), {});
    EXPECT_EQ(0u, none.exitCode);
    EXPECT_TRUE(none.report.all("arg").empty());
    EXPECT_EQ(L"\"" + secureDirectoryOf(none) + L"\\setup.exe\"", none.report.value("commandLine"));

    const struct {
        DWORD code;
        const wchar_t* logged;
    } rows[] = {{1, L"1 (0x00000001)"},
                {259, L"259 (0x00000103)"},
                {3010, L"3010 (0x00000BC2)"},
                {0x80070643, L"2147944003 (0x80070643)"},
                {0xFFFFFFFF, L"4294967295 (0xFFFFFFFF)"}};
    for (const auto& row : rows) {
        const LauncherRun run =
            runLauncher(testsupport::binPath(L"setup.exe"), {L"/exit=" + std::to_wstring(row.code)});
        EXPECT_EQ(row.code, run.exitCode);
        EXPECT_EQ(payloadRunRecords(secureDirectoryOf(run), L"setup.exe", row.logged),
                  messagesWithoutTimes(run.log));
        EXPECT_TRUE(run.leftovers.empty());
    }
}

TEST(Launcher, FromANetworkDriveRunsALocalCopy) {
    // Drive N: of the test prefix reports itself as a network drive.
    const testsupport::ScratchDir share(L"net", L"N:");
    const std::wstring name = L"setup-net.exe";
    const std::wstring networkCopy = share / name;
    ASSERT_TRUE(CopyFileW(testsupport::binPath(L"setup.exe").c_str(), networkCopy.c_str(), FALSE));
    ASSERT_EQ(FileUtils::Network, FileUtils::getPathLocation(networkCopy));
    const LauncherRun run = runLauncher(networkCopy, {L"/exit=3010", L"a b"});

    EXPECT_EQ(3010u, run.exitCode);
    EXPECT_EQ((std::vector<std::wstring>{L"/exit=3010", L"a b"}), run.report.all("arg"));
    ASSERT_GE(run.log.size(), 7u);
    const std::wstring outer = secureDirectoryOf(run);
    EXPECT_EQ(run.tempDir, FileUtils::getDirectory(outer));
    const std::wstring child = outer + L"\\" + name;
    const std::vector<std::wstring> messages = messagesOf(run.log);
    const std::vector<std::wstring> networkRecords(messages.begin() + 1, messages.begin() + 7);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"INFO: on network drive", L"INFO: extractedExe: " + child,
                  L"INFO: getwherethisexeis: " + networkCopy, L"INFO: before copying...",
                  L"TRACE: Copied [" + networkCopy + L"] file to [" + child + L"]", L"INFO: after copying"}),
              networkRecords);
    // The copy takes the payload branch in a directory of its own.
    const std::wstring inner = secureDirectoryOf(run, 1);
    EXPECT_NE(outer, inner);
    EXPECT_EQ(inner, run.report.value("cwd"));
    int notOnNetwork = 0;
    for (const auto& message : messages) {
        notOnNetwork += message == L"INFO: NOT on network drive";
    }
    EXPECT_EQ(1, notOnNetwork);
    const std::vector<std::wstring> timeless = messagesWithoutTimes(run.log);
    EXPECT_EQ(endRecord(child, L"3010 (0x00000BC2)"), timeless[timeless.size() - 3]) << "the copy's end";
    EXPECT_EQ(L"TRACE: Deleted [" + outer + L"] directory", messages.back());
    EXPECT_TRUE(run.leftovers.empty()) << "both directories are gone";
}

TEST(Launcher, ALocalLauncherWhoseFileAnotherProgramHoldsStillRuns) {
    // Another program holds the launcher's file with delete access: the launcher can't hold it by either name
    // (Wine names the mapping "\??\" + the path), says why, and runs the installer it carries in memory.
    const testsupport::ScratchDir dir(L"held");
    const std::wstring copy = dir / L"setup.exe";
    ASSERT_TRUE(CopyFileW(testsupport::binPath(L"setup.exe").c_str(), copy.c_str(), FALSE));
    const WinAutoHandle<HANDLE> holder(CreateFileW(copy.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
    const LauncherRun run = runLauncher(copy, {L"/exit=41"});
    EXPECT_EQ(41u, run.exitCode);
    const std::wstring refused =
        L"] can't be opened (" + formatSystemError(ERROR_SHARING_VIOLATION, nullptr) + L")";
    std::vector<std::wstring> records =
        payloadRunRecords(secureDirectoryOf(run), L"setup.exe", L"41 (0x00000029)");
    records.insert(records.begin(),
                   L"WARNING: The launcher's file can't be held as the program that runs: [\\??\\" + copy +
                       refused + L"; [" + copy + refused + L"; the run goes on from the program in memory");
    EXPECT_EQ(records, messagesWithoutTimes(run.log));
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(Launcher, ATempOnANetworkDriveIsPassedOver) {
    const testsupport::ScratchDir share(L"temp", L"N:");
    const std::wstring temp = share.path();
    testsupport::LauncherRunOptions options;
    options.tempDir = temp;
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {L"/exit=12"}, options);

    EXPECT_EQ(12u, run.exitCode);
    const std::wstring dir = secureDirectoryOf(run);
    EXPECT_EQ(L"C:\\windows\\temp", FileUtils::getDirectory(dir));
    EXPECT_EQ(dir + L"\\setup.exe", run.report.value("path")) << "the installer never runs from N:";
    EXPECT_EQ(L"C:\\windows\\temp", run.report.value("temp")) << "nor unpacks anything there";
    const std::vector<std::wstring> messages = messagesOf(run.log);
    ASSERT_EQ(7u, messages.size()) << "the log stays in TEMP";
    EXPECT_EQ(L"WARNING: TEMP [" + temp +
                  L"] is on a network drive; the working directory goes to [C:\\windows\\temp] instead",
              messages[1])
        << "once the directory is made there";
    EXPECT_TRUE(run.leftovers.empty()) << "nothing but the log on N:";
    EXPECT_FALSE(FileUtils::pathExists(dir)) << "nothing left where the run went";
}

TEST(Launcher, NotElevatedAndSilentEndsWithOneRecord) {
    for (const wchar_t* silent : {L"INSTALL_SILENT=1", L"/s"}) {
        testsupport::LauncherRunOptions options;
        options.process.notElevated = true;
        const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {L"x", silent}, options);
        EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
        EXPECT_EQ(std::vector<std::wstring>{adminRecord}, messagesOf(run.log));
        EXPECT_TRUE(run.leftovers.empty()) << "no directory is created";
        EXPECT_FALSE(run.report.present);
    }
}

TEST(Launcher, NotElevatedWithoutADisplayStillEnds) {
    // Without a display Wine's MessageBoxW shows nothing and answers -1: the run ends with -1 and an error.
    testsupport::LauncherRunOptions options;
    options.process.notElevated = true;
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {}, options);
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    ASSERT_EQ(1u, run.log.size());
    EXPECT_EQ(L"ERROR", run.log[0].level);
    EXPECT_NE(
        std::wstring::npos,
        run.log[0].message.find(L"at `anonymous-namespace'::showAdminErrorMessageBox(): MessageBoxW failed"))
        << tstrings::toMultiByte(run.log[0].message);
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(Launcher, ATamperedDirectoryIsNeverRun) {
    for (const wchar_t* plant : {L"file", L"folder"}) {
        testsupport::LauncherRunOptions options;
        options.process.environment[L"KRO_TEST_PLANT"] = plant;
        const LauncherRun run = runLauncher(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=5"}, options);
        EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
        EXPECT_FALSE(run.report.present) << "the child never starts";
        const std::vector<std::wstring> messages = messagesOf(run.log);
        const std::wstring dir = secureDirectoryOf(run);
        ASSERT_GE(messages.size(), 4u);
        EXPECT_EQ(L"ERROR: Secure directory is tempered, exiting...", messages[3]);
        EXPECT_EQ(L"TRACE: Deleted [" + dir + L"] directory", messages.back());
        EXPECT_TRUE(run.leftovers.empty()) << "the directory and the foreign entry are gone";
    }
}

TEST(Launcher, AMissingPayloadIsReportedAndCleanedUp) {
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup-no-payload.exe"), {});
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    const std::vector<std::wstring> messages = messagesOf(run.log);
    ASSERT_EQ(5u, messages.size());
    EXPECT_EQ(L"INFO: NOT on network drive", messages[1]);
    EXPECT_EQ(0u, messages[2].find(L"TRACE: Deleted ["))
        << "the empty directory goes before the error's record";
    EXPECT_NE(std::wstring::npos,
              messages[3].find(L"at Resource::getPtr(): cannot find resource (name='#100', "
                               L"type='#10'). System error [1813]"))
        << tstrings::toMultiByte(messages[3]);
    EXPECT_EQ(0u, messages[3].find(L"ERROR: Exception with message 'Resources.cpp("));
    EXPECT_EQ(
        L"ERROR: This launcher carries no installer: it is the stub, which runs only an installer put "
        L"into it. Put one in with launcher-stamp (launcher-stamp --payload INSTALLER --output setup.exe "
        L"setup-stub.exe), the LAUNCHER_PAYLOAD configure option or add_setup_launcher(), then run the "
        L"launcher that makes.",
        messages[4]);
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(Launcher, APayloadThatIsNoProgramFailsToStart) {
    const LauncherRun run = runLauncher(testsupport::binPath(L"setup-not-a-program.exe"), {});
    EXPECT_EQ(0xFFFFFFFFu, run.exitCode);
    ASSERT_FALSE(run.log.empty());
    const std::wstring last = run.log.back().message;
    EXPECT_NE(std::wstring::npos,
              last.find(L"at `anonymous-namespace'::execProcessWaitForFinish(): CreateProcess "
                        L"failed. System error [193](system error 193 ("))
        << tstrings::toMultiByte(last);
    EXPECT_TRUE(run.leftovers.empty());
}

TEST(Launcher, PlacesThatAreNoFolderArePassedOverAndAHoldOnTheMachineWideTempStopsNothing) {
    // TEMP a file, a device, and C:\windows\temp (SYSTEM's TEMP without GetTempPath2W) while another program
    // holds it sharing nothing, as any user may: each run works there and logs there, and its installer's
    // TEMP and TMP name it.
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"file.txt", "not a folder");
    const std::wstring windowsTemp = L"C:\\windows\\temp";
    const std::pair<std::wstring, std::wstring> rows[] = {{scratch / L"file.txt", L"is a file, not a folder"},
                                                          {L"\\\\.\\NUL", L"is a device, not a folder"},
                                                          {windowsTemp, L""}};
    testsupport::RunningProcess holder = testsupport::startProcess(
        testsupport::binPath(L"folder-holder.exe"), {windowsTemp, scratch / L"held", scratch / L"stop"});
    // However the runs end, the hold ends with them: other tests use the folder too.
    const auto runEach = [&] {
        ASSERT_TRUE(testsupport::waitForFile(scratch / L"held"));
        int runs = 0;
        for (const auto& [temp, reason] : rows) {
            const std::wstring report = scratch / (L"report-" + std::to_wstring(++runs));
            // The log there is every test's and keeps records of earlier processes that had this id.
            const std::size_t earlier = testsupport::readLog(windowsTemp + L"\\vantor.log").size();
            testsupport::RunningProcess run = testsupport::startProcess(
                testsupport::binPath(L"setup.exe"), {L"/exit=9"}, testsupport::inTemp(temp, report));
            const DWORD processId = GetProcessId(run.handle());
            EXPECT_EQ(9u, run.wait()) << tstrings::toMultiByte(temp);
            std::vector<std::wstring> messages;
            const auto records = testsupport::readLog(windowsTemp + L"\\vantor.log");
            for (std::size_t i = earlier; i < records.size(); ++i) {
                if (records[i].processId == processId) {
                    messages.push_back(records[i].level + L": " + records[i].message);
                }
            }
            ASSERT_EQ(reason.empty() ? 6u : 7u, messages.size()) << tstrings::toMultiByte(temp);
            EXPECT_EQ(0u, messages[0].find(L"TRACE: Created [C:\\windows\\temp\\kro"));
            EXPECT_TRUE(reason.empty() || messages[1] == L"WARNING: TEMP [" + temp + L"] " + reason +
                                                             L"; the working directory goes to [" +
                                                             windowsTemp + L"] instead")
                << tstrings::toMultiByte(messages[1]);
            EXPECT_EQ(windowsTemp, testsupport::readDemoReport(report).value("temp"));
            EXPECT_EQ(windowsTemp, testsupport::readDemoReport(report).value("tmp"));
        }
    };
    runEach();
    testsupport::writeFileBytes(scratch / L"stop", "");
    EXPECT_EQ(0u, holder.wait()) << "held throughout";
}
