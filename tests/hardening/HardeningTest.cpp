// Attacks, faults and load against real launchers. Every case records what it tried and what held into the
// results folder; the suite's last step turns them into docs/hardening.md.
#include <windows.h>

#include <gtest/gtest.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "CaseResult.h"
#include "ChildProcess.h"
#include "CommandLine.h"
#include "FileUtils.h"
#include "LauncherRun.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

using testsupport::kroEntries;
using testsupport::LauncherRun;
using testsupport::LauncherRunOptions;
using testsupport::runLauncher;
using testsupport::waitForFile;

namespace {

bool refused(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

}  // namespace

TEST(Hardening, TheHeldInstallerCannotBeSwapped) {
    const testsupport::ScratchDir pause(L"pause");
    const testsupport::ScratchDir temp(L"swap");
    testsupport::ProcessOptions options;
    options.environment = {{L"TEMP", temp.path()},
                           {L"TMP", temp.path()},
                           {L"KRO_TEST_PAUSE_DIR", pause.path()},
                           {L"KRO_TEST_PAUSE_AT", L"installer-written"},
                           {L"DEMO_INSTALLER_REPORT", pause / L"report.txt"}};
    testsupport::RunningProcess launcher =
        testsupport::startProcess(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=9"}, options);
    ASSERT_TRUE(waitForFile(pause / L"paused.txt"));
    const std::wstring child = tstrings::fromMultiByte(testsupport::readFileBytes(pause / L"paused.txt"));
    const std::wstring dir = FileUtils::getDirectory(child);
    const std::string original = testsupport::readFileBytes(child);

    CaseResult result(
        "payload-swap",
        "while the launcher holds the extracted installer: open it for writing and for deletion, "
        "delete it, rename it, rename and remove its directory, open the directory for deletion");
    const DWORD everyShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // Each attack's result and error are read in statements of their own, the error right after the call.
    const auto attack = [&](const char* what, auto tryIt) {
        const bool succeeded = tryIt();
        const DWORD error = GetLastError();
        result.count("attacks", 1);
        result.check(!succeeded && refused(error),
                     std::string(what) + " refused (error " + std::to_string(error) + ")");
    };
    const auto opens = [&](const std::wstring& path, DWORD access, DWORD flags) {
        return [&, path, access, flags] {
            const WinAutoHandle<HANDLE> handle(
                CreateFileW(path.c_str(), access, everyShare, nullptr, OPEN_EXISTING, flags, nullptr));
            return handle.get() != INVALID_HANDLE_VALUE;
        };
    };
    attack("opening the installer for writing", opens(child, GENERIC_WRITE, 0));
    attack("opening the installer for deletion", opens(child, DELETE, 0));
    attack("deleting the installer", [&] { return DeleteFileW(child.c_str()) != FALSE; });
    attack("renaming the installer",
           [&] { return MoveFileExW(child.c_str(), (child + L".old").c_str(), 0) != FALSE; });
    attack("renaming the directory",
           [&] { return MoveFileExW(dir.c_str(), (dir + L".old").c_str(), 0) != FALSE; });
    attack("removing the directory", [&] { return RemoveDirectoryW(dir.c_str()) != FALSE; });
    attack("opening the directory for deletion", opens(dir, DELETE, FILE_FLAG_BACKUP_SEMANTICS));

    testsupport::writeFileBytes(pause / L"continue", "");
    result.check(launcher.wait() == 9u, "the installer's exit code came back");
    const testsupport::DemoReport report = testsupport::readDemoReport(pause / L"report.txt");
    result.check(child == report.value("path") &&
                     original == testsupport::readFileBytes(testsupport::binPath(L"demo-installer.exe")),
                 "the original installer ran");
    result.count("left", static_cast<long long>(kroEntries(temp.path()).size()));
}

TEST(Hardening, PlantedLibrariesAreNeverLoaded) {
    CaseResult result(
        "dll-planting",
        "marker-writing fakes of user32, version, uxtheme, cryptbase, msvcrt and a name with no "
        "system library, beside the launcher, in its current directory and in a PATH folder");
    const std::wstring planted = tstrings::fromMultiByte(KRO_PLANTED_DIR_WINDOWS);
    const testsupport::ScratchDir beside(L"beside");
    const testsupport::ScratchDir current(L"current");
    const testsupport::ScratchDir onPath(L"onpath");
    for (const wchar_t* name :
         {L"user32.dll", L"version.dll", L"uxtheme.dll", L"cryptbase.dll", L"msvcrt.dll", L"krofake.dll"}) {
        for (const std::wstring& folder : {beside.path(), current.path(), onPath.path()}) {
            ASSERT_TRUE(CopyFileW((planted + L"\\" + name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
            result.count("attacks", 1);
        }
    }
    ASSERT_TRUE(
        CopyFileW(testsupport::binPath(L"setup.exe").c_str(), (beside / L"setup.exe").c_str(), FALSE));
    wchar_t path[32768] = {};
    GetEnvironmentVariableW(L"PATH", path, 32768);
    LauncherRunOptions options;
    options.process.currentDirectory = current.path();
    options.process.environment[L"PATH"] = onPath.path() + L";" + path;
    const LauncherRun run = runLauncher(beside / L"setup.exe", {L"/exit=4"}, options);
    result.check(run.exitCode == 4u, "the run ended normally");

    // A fake that ran left its marker in the run's TEMP, among the run's leftovers.
    std::string ran;
    for (const std::wstring& entry : run.leftovers) {
        ran += " " + tstrings::toMultiByte(FileUtils::getFileName(entry));
    }
    result.check(run.leftovers.empty(), "no fake ran and nothing was left in TEMP" + ran);
    result.count("left", static_cast<long long>(run.leftovers.size()));
    const std::vector<std::wstring> modules = run.report.all("parentModule");
    EXPECT_GT(modules.size(), 3u) << "the installer saw its parent's modules";
    bool fromSystem = true;
    for (const std::wstring& module : modules) {
        const std::wstring name = tstrings::toLower(FileUtils::getFileName(module));
        const std::wstring folder = FileUtils::getDirectory(module);
        // Wine names the imported msvcrt after a same-named file beside the program, though its own code runs
        // (no marker): Windows loads msvcrt from its known DLLs only.
        if (name == L"msvcrt.dll" || name == L"setup.exe") {
            continue;
        }
        for (const std::wstring& plantedFolder : {beside.path(), current.path(), onPath.path()}) {
            fromSystem = fromSystem && !tstrings::equals(folder, plantedFolder, tstrings::IGNORE_CASE);
        }
    }
    result.check(fromSystem, "every module the launcher loaded comes from the system directory");
}

TEST(Hardening, LinksAtTheLogsNameAreNeverFollowed) {
    CaseResult result("log-links",
                      "a hard link and a symbolic link named vantor.log in TEMP, pointing at a 10 MiB file "
                      "elsewhere");
    // A hard link made here; a symbolic link made by the fixture script from the Linux side.
    const testsupport::ScratchDir hardLinked(L"hardlink");
    const std::wstring victim = hardLinked / L"victim.txt";
    testsupport::writeFileBytes(victim, std::string(10485760 + 5, 'v'));
    ASSERT_TRUE(CreateHardLinkW((hardLinked / L"vantor.log").c_str(), victim.c_str(), nullptr));
    const std::wstring fixtures = tstrings::fromMultiByte(KRO_FIXTURES_DIR);
    const struct {
        std::wstring temp, target;
    } links[] = {{hardLinked.path(), victim},
                 {fixtures + L"\\symlink-log", fixtures + L"\\symlink-target.txt"}};
    for (const auto& link : links) {
        const std::string before = testsupport::readFileBytes(link.target);
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", link.temp}, {L"TMP", link.temp}};
        const DWORD exitCode =
            testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=6"}, options.process)
                .exitCode;
        result.count("attacks", 1);
        result.check(exitCode == 6u, "the runs end normally");
        result.check(testsupport::readFileBytes(link.target) == before,
                     "the other files are neither appended to nor emptied");
        result.count("left", static_cast<long long>(kroEntries(link.temp).size()));
    }
}

TEST(Hardening, SquattedNamesAreNeverReused) {
    CaseResult result("name-squatting",
                      "the kro names of the next 400 tick counts, taken alternately as files and as "
                      "directories while the launcher waits to make its directory");
    // The launcher waits before it takes its name; meanwhile the names it will try are taken.
    const testsupport::ScratchDir temp(L"squat");
    const testsupport::ScratchDir pause(L"squat-pause");
    testsupport::ProcessOptions options;
    options.environment = {{L"TEMP", temp.path()},
                           {L"TMP", temp.path()},
                           {L"KRO_TEST_PAUSE_DIR", pause.path()},
                           {L"KRO_TEST_PAUSE_AT", L"before-directory"}};
    testsupport::RunningProcess launcher =
        testsupport::startProcess(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=8"}, options);
    ASSERT_TRUE(waitForFile(pause / L"paused.txt"));
    // The names that the tick count would give from now on, as an attacker who reads the clock takes them.
    const DWORD opens = GetTickCount();
    const int squatted = 400;
    for (int i = 0; i < squatted; ++i) {
        const std::wstring name =
            temp / (L"kro" + tstrings::toString(static_cast<std::int32_t>(opens + i)) + L".tmp");
        if (i % 2 == 0) {
            const WinAutoHandle<HANDLE> file(
                CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
            DWORD written = 0;
            ASSERT_TRUE(WriteFile(file.get(), "squatter", 8, &written, nullptr));
        } else {
            ASSERT_TRUE(CreateDirectoryW(name.c_str(), nullptr));
        }
    }
    testsupport::writeFileBytes(pause / L"continue", "");
    // The names come from the system's random source: the tick counts' names take none of them.
    result.check(launcher.wait() == 8u, "the run found a free name and ran the installer");
    result.count("attacks", squatted);
    const std::vector<std::wstring> entries = kroEntries(temp.path());
    bool untouched = entries.size() == static_cast<std::size_t>(squatted);
    for (const std::wstring& entry : entries) {
        std::vector<std::wstring> inside;
        if (FileUtils::isDirectory(entry)) {
            FileUtils::DirectoryIterator(entry, false, true, true).findItems(inside);
        }
        untouched =
            untouched && (FileUtils::isDirectory(entry) ? inside.empty()
                                                        : testsupport::readFileBytes(entry) == "squatter");
    }
    result.check(untouched, "no squatted entry was used or changed");
    result.count("left", static_cast<long long>(entries.size()) - squatted);
}

TEST(Hardening, DirectoriesAUserPlantsAreNeitherEnteredNorWorthTheirTime) {
    CaseResult result(
        "planted-leftovers",
        "3,000 directories named as leftovers made by the user in TEMP, one holding a hard link to "
        "a read-only file elsewhere; the shipped launcher, then the test build taking every "
        "directory for an administrator's");
    const testsupport::ScratchDir temp(L"planted");
    const testsupport::ScratchDir elsewhere(L"elsewhere");
    const int planted = 3000;
    for (int i = 0; i < planted; ++i) {
        ASSERT_TRUE(CreateDirectoryW((temp / (L"kro" + std::to_wstring(i) + L".tmp")).c_str(), nullptr));
    }
    const std::wstring readOnly = elsewhere / L"read-only.txt";
    testsupport::writeFileBytes(readOnly, "read-only");
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateHardLinkW((temp / L"kro0.tmp\\linked.txt").c_str(), readOnly.c_str(), nullptr));
    result.count("attacks", planted);
    LauncherRunOptions options;
    options.tempDir = temp.path();
    const LauncherRun shipped = runLauncher(testsupport::binPath(L"setup.exe"), {L"/exit=14"}, options);
    result.check(shipped.exitCode == 14u && shipped.log.size() == 6u,
                 "the shipped launcher ran with its six records, none for what it left alone");
    result.check(kroEntries(temp.path()).size() == static_cast<std::size_t>(planted),
                 "every planted directory left");

    DeleteFileW((temp / L"vantor.log").c_str());
    options.process.environment[L"KRO_TEST_OWNER"] = L"Administrators";
    const LauncherRun swept = runLauncher(testsupport::binPath(L"setup-hooks.exe"), {L"/exit=15"}, options);
    const auto summaries = std::count_if(swept.log.begin(), swept.log.end(), [](const auto& record) {
        return record.message.rfind(L"Leftovers of earlier runs removed: ", 0) == 0;
    });
    const std::size_t removed = planted - kroEntries(temp.path()).size();
    result.check(swept.exitCode == 15u && summaries == 1 && removed <= 16,
                 "taken for an administrator's, at most 16 removed, with one summary record");
    result.check(testsupport::readFileBytes(readOnly) == "read-only" &&
                     (GetFileAttributesW(readOnly.c_str()) & FILE_ATTRIBUTE_READONLY) != 0,
                 "the read-only file elsewhere untouched, its attribute kept");
    result.count("removed", static_cast<long long>(removed));
    SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(Hardening, FaultsEndWithTheRightCodeAndNothingLeft) {
    CaseResult result(
        "faults",
        "TEMP missing; the log held by another process for the whole run; the child crashing; the "
        "child killed from outside once it runs");
    const auto fault = [&](const std::string& what, bool held, std::size_t left) {
        result.count("faults", 1);
        result.check(held, what);
        result.count("left", static_cast<long long>(left));
    };
    {
        // A TEMP that can't be opened (a mapped drive the elevated session doesn't see): the run works in the
        // system's own TEMP instead and says so there, in the log of that folder.
        const testsupport::ScratchDir scratch(L"missing");
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", scratch / L"gone"}, {L"TMP", scratch / L"gone"}};
        const DWORD exitCode =
            testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=10"}, options.process)
                .exitCode;
        const std::wstring warning = L"TEMP [" + scratch / L"gone" + L"] can't be opened (system error ";
        bool warned = false;
        for (const auto& record : testsupport::readLog(L"C:\\windows\\temp\\vantor.log")) {
            warned = warned || (record.message.rfind(warning, 0) == 0 &&
                                record.message.find(L"the working directory goes to [C:\\windows\\temp]") !=
                                    std::wstring::npos);
        }
        fault("TEMP missing: the installer's exit code, a WARNING naming TEMP, TEMP not created",
              exitCode == 10u && warned && !FileUtils::pathExists(scratch / L"gone"),
              FileUtils::pathExists(scratch / L"gone") ? 1 : 0);
    }
    {
        const testsupport::ScratchDir temp(L"heldlog");
        testsupport::writeFileBytes(temp / L"vantor.log", "held");
        const WinAutoHandle<HANDLE> holder(CreateFileW((temp / L"vantor.log").c_str(), GENERIC_READ,
                                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", temp.path()}, {L"TMP", temp.path()}};
        const DWORD exitCode =
            testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=11"}, options.process)
                .exitCode;
        fault("the log held: the child's exit code, the records dropped",
              exitCode == 11u && testsupport::readFileBytes(temp / L"vantor.log") == "held",
              kroEntries(temp.path()).size());
    }
    {
        const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {L"/crash"});
        fault("the child crashing: 0xC0000005", run.exitCode == 0xC0000005u, run.leftovers.size());
    }
    {
        // Killed once it really runs (its report is written): a child still suspended would be ended by the
        // launcher's own check instead.
        const testsupport::ScratchDir temp(L"killed");
        testsupport::RunningProcess launcher =
            testsupport::startProcess(testsupport::binPath(L"setup.exe"), {L"/sleep=60000"},
                                      testsupport::inTemp(temp.path(), temp / L"report.txt"));
        bool killed = false;
        if (waitForFile(temp / L"report.txt")) {
            for (const DWORD child : testsupport::childProcessIds(launcher.handle())) {
                const WinAutoHandle<HANDLE> process(OpenProcess(PROCESS_TERMINATE, FALSE, child));
                killed = TerminateProcess(process.get(), 0xDEAD) != FALSE || killed;
            }
        }
        const DWORD exitCode = launcher.wait();
        fault("the child killed from outside: the kill code", killed && exitCode == 0xDEADu,
              kroEntries(temp.path()).size());
    }
}

TEST(Hardening, ThirtyTwoLaunchersAtOnce) {
    CaseResult result("load",
                      "32 launchers started at once in one TEMP, each with its own arguments and exit code");
    const testsupport::ScratchDir temp(L"load");
    const int count = 32;
    std::vector<testsupport::RunningProcess> launchers;
    for (int i = 0; i < count; ++i) {
        launchers.push_back(testsupport::startProcess(
            testsupport::binPath(L"setup.exe"),
            {L"/exit=" + std::to_wstring(100 + i), L"id " + std::to_wstring(i)},
            testsupport::inTemp(temp.path(), temp / (L"report-" + std::to_wstring(i) + L".txt"))));
    }
    for (int i = 0; i < count; ++i) {
        const DWORD exitCode = launchers[static_cast<std::size_t>(i)].wait();
        const auto report = testsupport::readDemoReport(temp / (L"report-" + std::to_wstring(i) + L".txt"));
        const bool right =
            exitCode == static_cast<DWORD>(100 + i) &&
            report.all("arg") ==
                std::vector<std::wstring>{L"/exit=" + std::to_wstring(100 + i), L"id " + std::to_wstring(i)};
        result.check(right, "every child got its own arguments and every exit code came back");
        result.count("launches", right ? 1 : 0);
    }
    // readLog fails the test on any torn or interleaved record.
    const auto records = testsupport::readLog(temp / L"vantor.log");
    std::set<std::wstring> directories;
    std::size_t sweeps = 0;
    for (const auto& record : records) {
        const std::wstring& m = record.message;
        if (m.rfind(L"Created [", 0) == 0 && m.find(L"] directory") == m.size() - 11) {
            directories.insert(m.substr(9, m.size() - 20));
        }
        sweeps += m.rfind(L"Leftovers of earlier runs removed: ", 0) == 0;
    }
    result.check(directories.size() == static_cast<std::size_t>(count), "32 distinct secure directories");
    // Six records a run; a directory one run's sweep removed after its owner let it go is recorded by the
    // sweep instead, which adds its count.
    result.check(records.size() == 6 * static_cast<std::size_t>(count) + sweeps,
                 "every log record intact, none interleaved, none missing");
    result.count("records", static_cast<long long>(records.size()));
    result.count("left", static_cast<long long>(kroEntries(temp.path()).size()));
}

namespace {

// A random argument vector: up to 6 arguments of up to 12 units drawn from quotes, backslashes, blanks, tabs,
// letters and BMP text (no NUL, no surrogates), empty arguments included.
std::vector<std::wstring> randomVector(std::mt19937& random) {
    static const std::wstring special = L"\"\\ \t\"\\ab";
    std::uniform_int_distribution<int> argumentCount(0, 6), length(0, 12), kind(0, 3);
    std::uniform_int_distribution<int> specialIndex(0, static_cast<int>(special.size()) - 1);
    std::uniform_int_distribution<int> bmp(0x20, 0xD7FF);
    std::vector<std::wstring> vector(static_cast<std::size_t>(argumentCount(random)));
    for (std::wstring& argument : vector) {
        for (int n = length(random); n > 0; --n) {
            argument += kind(random) < 3 ? special[static_cast<std::size_t>(specialIndex(random))]
                                         : static_cast<wchar_t>(bmp(random));
        }
    }
    return vector;
}

}  // namespace

TEST(Hardening, RandomArgumentVectorsRoundTrip) {
    CaseResult result(
        "arguments",
        "10,000 random argument vectors (quotes, backslashes, blanks, tabs, empty strings, any BMP "
        "text) typed after the launcher's name, through the child's command line and "
        "CommandLineToArgvW");
    std::mt19937 random(20261209);
    for (int i = 0; i < 10000; ++i) {
        const std::vector<std::wstring> vector = randomVector(random);
        std::wstring typed = L"setup.exe";
        for (const std::wstring& argument : vector) {
            typed += L" " + commandline::quoteArgument(argument);
        }
        const std::wstring commandLine = getCommandLine(L"C:\\T\\kro1.tmp\\setup.exe", typed);
        const std::vector<std::wstring> parsed = testsupport::splitCommandLine(commandLine);
        const bool same = std::vector<std::wstring>(parsed.begin() + 1, parsed.end()) == vector;
        result.check(same, "every vector came back unchanged");
        result.count("vectors", same ? 1 : 0);
    }
}
