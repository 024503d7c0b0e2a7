// A real NSIS installer (built by the suite with makensis) carried by the launcher behaves exactly as when it
// is run directly: NSIS reads "/S" and "/D=" from its raw command line, so re-quoted arguments would not be
// switches to it.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "FileUtils.h"
#include "LauncherRun.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace {

const std::wstring installFolder = L"C:\\Program Files\\Demo App";
const wchar_t* const uninstallKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KroDemoApp";

// What the installer recorded in its folder: "cmdline", "instdir" and "silent".
std::map<std::string, std::string> installReport() {
    std::map<std::string, std::string> values;
    const std::string text = testsupport::readFileBytes(installFolder + L"\\install-report.txt");
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string line = text.substr(pos, end - pos);
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos) {
            values[line.substr(0, eq)] = line.substr(eq + 1);
        }
        pos = end + 1;
    }
    return values;
}

bool isRegistered() {
    HKEY key = nullptr;
    const bool found = RegOpenKeyExW(HKEY_LOCAL_MACHINE, uninstallKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
    const WinAutoHandle<HKEY> owner(key);
    return found;
}

// The part after the program name of an NSIS command line: the name is the first quoted text.
std::string afterProgram(const std::string& commandLine) {
    const std::size_t close = commandLine.find('"', 1);
    return close == std::string::npos ? std::string() : commandLine.substr(close + 1);
}

// Runs the installed uninstaller silently; it goes on as a copy of itself in TEMP, so its work is waited for.
void uninstall() {
    const std::wstring uninstaller = installFolder + L"\\uninstall.exe";
    testsupport::ProcessOptions options;
    options.commandLine = L"\"" + uninstaller + L"\" /S";
    EXPECT_EQ(0u, testsupport::runProcess(uninstaller, {}, options).exitCode);
    testsupport::waitUntil([] { return !FileUtils::pathExists(installFolder) && !isRegistered(); });
    EXPECT_FALSE(FileUtils::pathExists(installFolder)) << "the uninstaller removed the folder";
    EXPECT_FALSE(isRegistered()) << "the uninstaller removed its registration";
}

}  // namespace

TEST(RealInstallers, AnNsisInstallerCarriedByTheLauncherBehavesAsWhenRunDirectly) {
    const std::wstring installer = tstrings::fromMultiByte(KRO_NSIS_INSTALLER);
    for (const DWORD code : {3010ul, 1602ul}) {
        SCOPED_TRACE(code);
        const std::wstring tail = L" /S /CODE=" + std::to_wstring(code) + L" /D=" + installFolder;

        testsupport::ProcessOptions direct;
        direct.commandLine = L"\"" + installer + L"\"" + tail;
        EXPECT_EQ(code, testsupport::runProcess(installer, {}, direct).exitCode);
        std::map<std::string, std::string> directReport = installReport();
        EXPECT_TRUE(isRegistered());
        uninstall();

        testsupport::LauncherRunOptions launched;
        launched.process.commandLine = L"setup-nsis.exe" + tail;
        const testsupport::LauncherRun run =
            testsupport::runLauncher(testsupport::binPath(L"setup-nsis.exe"), {}, launched);
        EXPECT_EQ(code, run.exitCode);
        std::map<std::string, std::string> report = installReport();
        EXPECT_EQ("1", report["silent"]) << "silent, as /S asks";
        EXPECT_EQ(tstrings::toMultiByte(installFolder), report["instdir"])
            << "where /D= says, spaces included";
        EXPECT_EQ(directReport["silent"], report["silent"]);
        EXPECT_EQ(directReport["instdir"], report["instdir"]);
        EXPECT_EQ(afterProgram(directReport["cmdline"]), afterProgram(report["cmdline"]));
        EXPECT_TRUE(isRegistered());
        uninstall();
        EXPECT_TRUE(run.leftovers.empty()) << "nothing left in TEMP";
    }
}
