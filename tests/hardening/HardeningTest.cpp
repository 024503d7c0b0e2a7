// Attacks, faults and load against real launchers. Every case records what it tried and what held into the
// results folder; the suite's last step turns them into docs/hardening.md.
#include <windows.h>

#include <gtest/gtest.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "CommandLine.h"
#include "FileUtils.h"
#include "LauncherRun.h"
#include "LocalMemory.h"
#include "Log.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

using testsupport::kroEntries;
using testsupport::LauncherRun;
using testsupport::LauncherRunOptions;
using testsupport::runLauncher;
using testsupport::waitForFile;

namespace {

// One line of the summary: case, what was tried, what held, and counts ("attacks=5;left=0").
void recordResult(const std::string& name, const std::string& tried, const std::string& held,
                  const std::string& counts) {
    const std::wstring path =
        tstrings::fromMultiByte(KRO_HARDENING_RESULTS) + L"\\" + tstrings::fromMultiByte(name) + L".tsv";
    testsupport::writeFileBytes(path, name + "\t" + tried + "\t" + held + "\t" + counts + "\n");
}

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

    int attacks = 0;
    int held = 0;
    auto attack = [&](bool succeeded, DWORD error, const char* what) {
        ++attacks;
        EXPECT_FALSE(succeeded) << what << " succeeded";
        EXPECT_TRUE(succeeded || refused(error)) << what << " failed with " << error;
        held += !succeeded && refused(error);
    };
    {
        const WinAutoHandle<HANDLE> writer(CreateFileW(child.c_str(), GENERIC_WRITE,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                       nullptr, OPEN_EXISTING, 0, nullptr));
        attack(writer.get() != INVALID_HANDLE_VALUE, GetLastError(), "opening the installer for writing");
    }
    {
        const WinAutoHandle<HANDLE> deleter(
            CreateFileW(child.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr));
        attack(deleter.get() != INVALID_HANDLE_VALUE, GetLastError(), "opening the installer for deletion");
    }
    attack(DeleteFileW(child.c_str()) != FALSE, GetLastError(), "deleting the installer");
    attack(MoveFileExW(child.c_str(), (child + L".old").c_str(), 0) != FALSE, GetLastError(),
           "renaming the installer");
    attack(MoveFileExW(dir.c_str(), (dir + L".old").c_str(), 0) != FALSE, GetLastError(),
           "renaming the directory");
    attack(RemoveDirectoryW(dir.c_str()) != FALSE, GetLastError(), "removing the directory");
    {
        const WinAutoHandle<HANDLE> dirDeleter(
            CreateFileW(dir.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        attack(dirDeleter.get() != INVALID_HANDLE_VALUE, GetLastError(),
               "opening the directory for deletion");
    }

    testsupport::writeFileBytes(pause / L"continue", "");
    EXPECT_EQ(9u, launcher.wait());
    const testsupport::DemoReport report = testsupport::readDemoReport(pause / L"report.txt");
    EXPECT_EQ(child, report.value("path")) << "the original installer ran";
    EXPECT_TRUE(original == testsupport::readFileBytes(testsupport::binPath(L"demo-installer.exe")));
    EXPECT_TRUE(kroEntries(temp.path()).empty());
    recordResult(
        "payload-swap",
        "while the launcher holds the extracted installer: open it for writing and for deletion, delete "
        "it, rename it, rename and remove its directory, open the directory for deletion",
        "every attempt refused (sharing violation or access denied); the original installer ran",
        "attacks=" + std::to_string(attacks) + ";held=" + std::to_string(held) + ";left=0");
}

TEST(Hardening, PlantedLibrariesAreNeverLoaded) {
    const std::wstring planted = tstrings::fromMultiByte(KRO_PLANTED_DIR_WINDOWS);
    const testsupport::ScratchDir beside(L"beside");
    const testsupport::ScratchDir current(L"current");
    const testsupport::ScratchDir onPath(L"onpath");
    const std::vector<std::wstring> names = {L"user32.dll",    L"version.dll", L"uxtheme.dll",
                                             L"cryptbase.dll", L"msvcrt.dll",  L"krofake.dll"};
    int plantedCount = 0;
    for (const std::wstring& name : names) {
        for (const std::wstring& folder : {beside.path(), current.path(), onPath.path()}) {
            ASSERT_TRUE(CopyFileW((planted + L"\\" + name).c_str(), (folder + L"\\" + name).c_str(), FALSE));
            ++plantedCount;
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
    EXPECT_EQ(4u, run.exitCode);

    std::vector<std::wstring> markers;
    FileUtils::DirectoryIterator(run.tempDir, true, true, false).findItems(markers);
    for (const std::wstring& entry : markers) {
        EXPECT_EQ(std::wstring::npos, entry.find(L".marker"))
            << "a planted DLL ran: " << tstrings::toMultiByte(entry);
    }
    const std::vector<std::wstring> modules = run.report.all("parentModule");
    EXPECT_GT(modules.size(), 3u);
    for (const std::wstring& module : modules) {
        const std::wstring name = tstrings::toLower(FileUtils::getFileName(module));
        const std::wstring folder = FileUtils::getDirectory(module);
        // Wine names the imported msvcrt after a same-named file beside the program, though its own code runs
        // (no marker): Windows loads msvcrt from its known DLLs only.
        if (name == L"msvcrt.dll" || name == L"setup.exe") {
            continue;
        }
        for (const std::wstring& plantedFolder : {beside.path(), current.path(), onPath.path()}) {
            EXPECT_FALSE(tstrings::equals(folder, plantedFolder, tstrings::IGNORE_CASE))
                << tstrings::toMultiByte(module);
        }
    }
    recordResult(
        "dll-planting",
        "marker-writing fakes of user32, version, uxtheme, cryptbase, msvcrt and a name with no system "
        "library, beside the launcher, in its current directory and in a PATH folder",
        "no fake ran; every module the launcher loaded comes from the system directory",
        "attacks=" + std::to_string(plantedCount) + ";left=0");
}

TEST(Hardening, LinksAtTheLogsNameAreNeverFollowed) {
    // A hard link made here; a symbolic link made by the fixture script from the Linux side.
    const testsupport::ScratchDir temp(L"hardlink");
    const std::wstring other = temp / L"victim.txt";
    const std::string original(FileLogAppender::defaultMaxFileSize + 5, 'v');
    testsupport::writeFileBytes(other, original);
    ASSERT_TRUE(CreateHardLinkW((temp / L"vantor.log").c_str(), other.c_str(), nullptr));
    LauncherRunOptions options;
    options.process.environment = {{L"TEMP", temp.path()}, {L"TMP", temp.path()}};
    EXPECT_EQ(
        6u,
        testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=6"}, options.process).exitCode);
    EXPECT_TRUE(testsupport::readFileBytes(other) == original);
    EXPECT_TRUE(kroEntries(temp.path()).empty());

    const std::wstring symlinkFolder = tstrings::fromMultiByte(KRO_FIXTURES_DIR) + L"\\symlink-log";
    const std::wstring target = tstrings::fromMultiByte(KRO_FIXTURES_DIR) + L"\\symlink-target.txt";
    const std::string targetBefore = testsupport::readFileBytes(target);
    options.process.environment = {{L"TEMP", symlinkFolder}, {L"TMP", symlinkFolder}};
    EXPECT_EQ(
        6u,
        testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=6"}, options.process).exitCode);
    EXPECT_TRUE(testsupport::readFileBytes(target) == targetBefore);
    EXPECT_TRUE(kroEntries(symlinkFolder).empty());
    recordResult(
        "log-links",
        "a hard link and a symbolic link named vantor.log in TEMP, pointing at a 10 MiB file elsewhere",
        "the other files are neither appended to nor emptied; the runs end normally", "attacks=2;left=0");
}

TEST(Hardening, SquattedNamesAreNeverReused) {
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
    // The window of taken names opens two seconds from now; the launcher is let go when it opens, so its
    // hundred attempts (it reads the clock within a few milliseconds) all fall into the window.
    const DWORD opens = GetTickCount() + 2000;
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
    ASSERT_LT(static_cast<std::int32_t>(GetTickCount() - opens), 0) << "taking the names took too long";
    while (static_cast<std::int32_t>(GetTickCount() - opens) < 0) {
        Sleep(1);
    }
    testsupport::writeFileBytes(pause / L"continue", "");
    const DWORD exitCode = launcher.wait();
    EXPECT_TRUE(exitCode == 8u || exitCode == 0xFFFFFFFFu) << exitCode;
    const auto records = testsupport::readLog(temp / L"vantor.log");
    if (exitCode == 0xFFFFFFFFu) {
        ASSERT_FALSE(records.empty());
        EXPECT_NE(std::wstring::npos,
                  records.back().message.find(L"No free name for the secure directory in " + temp.path()));
    }
    const std::vector<std::wstring> entries = kroEntries(temp.path());
    EXPECT_EQ(static_cast<std::size_t>(squatted), entries.size()) << "nothing reused, nothing partial left";
    for (const std::wstring& entry : entries) {
        if (FileUtils::isDirectory(entry)) {
            std::vector<std::wstring> inside;
            FileUtils::DirectoryIterator(entry, false, true, true).findItems(inside);
            EXPECT_TRUE(inside.empty()) << tstrings::toMultiByte(entry);
        } else {
            EXPECT_EQ("squatter", testsupport::readFileBytes(entry)) << tstrings::toMultiByte(entry);
        }
    }
    recordResult("name-squatting",
                 "the kro names of the 400 tick counts from the moment the launcher takes its name on, taken "
                 "alternately as files and as directories",
                 exitCode == 8u
                     ? "a free name was found; no squatted entry was used or changed"
                     : "no free name: the error was reported; no squatted entry was used or changed",
                 "attacks=" + std::to_string(squatted) + ";left=0");
}

TEST(Hardening, FaultsEndWithTheRightCodeAndNothingLeft) {
    int faults = 0;
    // TEMP missing: nothing can be created, not even the log.
    {
        const testsupport::ScratchDir scratch(L"missing");
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", scratch / L"gone"}, {L"TMP", scratch / L"gone"}};
        EXPECT_EQ(0xFFFFFFFFu,
                  testsupport::runProcess(testsupport::binPath(L"setup.exe"), {}, options.process).exitCode);
        EXPECT_FALSE(FileUtils::pathExists(scratch / L"gone"));
        ++faults;
    }
    // The log held by another process for the whole run: records are dropped, nothing else changes.
    {
        const testsupport::ScratchDir temp(L"heldlog");
        testsupport::writeFileBytes(temp / L"vantor.log", "held");
        const WinAutoHandle<HANDLE> holder(CreateFileW((temp / L"vantor.log").c_str(), GENERIC_READ,
                                                       FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", temp.path()}, {L"TMP", temp.path()}};
        EXPECT_EQ(11u,
                  testsupport::runProcess(testsupport::binPath(L"setup.exe"), {L"/exit=11"}, options.process)
                      .exitCode);
        EXPECT_EQ("held", testsupport::readFileBytes(temp / L"vantor.log"));
        EXPECT_TRUE(kroEntries(temp.path()).empty());
        ++faults;
    }
    // The child crashing.
    {
        const LauncherRun run = runLauncher(testsupport::binPath(L"setup.exe"), {L"/crash"});
        EXPECT_EQ(0xC0000005u, run.exitCode);
        EXPECT_TRUE(run.leftovers.empty());
        ++faults;
    }
    // The child killed from outside.
    {
        const testsupport::ScratchDir temp(L"killed");
        LauncherRunOptions options;
        options.process.environment = {{L"TEMP", temp.path()}, {L"TMP", temp.path()}};
        testsupport::RunningProcess launcher =
            testsupport::startProcess(testsupport::binPath(L"setup.exe"), {L"/sleep=60000"}, options.process);
        DWORD launcherId = GetProcessId(launcher.handle());
        bool killed = false;
        for (int attempt = 0; attempt < 600 && !killed; ++attempt) {
            Sleep(50);
            const WinAutoHandle<HANDLE> snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
            PROCESSENTRY32W entry{};
            entry.dwSize = sizeof(entry);
            for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !killed;
                 more = Process32NextW(snapshot.get(), &entry)) {
                if (entry.th32ParentProcessID == launcherId) {
                    const WinAutoHandle<HANDLE> child(
                        OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
                    killed = TerminateProcess(child.get(), 0xDEAD) != FALSE;
                }
            }
        }
        EXPECT_TRUE(killed);
        EXPECT_EQ(0xDEADu, launcher.wait());
        EXPECT_TRUE(kroEntries(temp.path()).empty());
        ++faults;
    }
    recordResult(
        "faults",
        "TEMP missing; the log held by another process for the whole run; the child crashing; the child "
        "killed from outside",
        "exit codes -1, the child's, 0xC0000005 and the kill code; no kro directory or temporary file left",
        "faults=" + std::to_string(faults) + ";left=0");
}

TEST(Hardening, ThirtyTwoLaunchersAtOnce) {
    const testsupport::ScratchDir temp(L"load");
    const int count = 32;
    std::vector<testsupport::RunningProcess> launchers;
    for (int i = 0; i < count; ++i) {
        testsupport::ProcessOptions options;
        options.environment = {
            {L"TEMP", temp.path()},
            {L"TMP", temp.path()},
            {L"DEMO_INSTALLER_REPORT", temp / (L"report-" + std::to_wstring(i) + L".txt")}};
        launchers.push_back(testsupport::startProcess(
            testsupport::binPath(L"setup.exe"),
            {L"/exit=" + std::to_wstring(100 + i), L"id " + std::to_wstring(i)}, options));
    }
    int right = 0;
    for (int i = 0; i < count; ++i) {
        const DWORD exitCode = launchers[static_cast<std::size_t>(i)].wait();
        EXPECT_EQ(static_cast<DWORD>(100 + i), exitCode);
        const auto report = testsupport::readDemoReport(temp / (L"report-" + std::to_wstring(i) + L".txt"));
        EXPECT_EQ(
            (std::vector<std::wstring>{L"/exit=" + std::to_wstring(100 + i), L"id " + std::to_wstring(i)}),
            report.all("arg"));
        right += exitCode == static_cast<DWORD>(100 + i);
    }
    const auto records = testsupport::readLog(temp / L"vantor.log");
    std::set<std::wstring> directories;
    for (const auto& record : records) {
        const std::wstring& m = record.message;
        if (m.rfind(L"Created [", 0) == 0 && m.find(L"] directory") == m.size() - 11) {
            directories.insert(m.substr(9, m.size() - 20));
        }
    }
    EXPECT_EQ(static_cast<std::size_t>(count), directories.size()) << "32 distinct secure directories";
    EXPECT_TRUE(kroEntries(temp.path()).empty());
    recordResult(
        "load", "32 launchers started at once in one TEMP, each with its own arguments and exit code",
        "32 distinct directories, every child got its own arguments, every exit code right, every log "
        "record intact and none interleaved (" +
            std::to_string(records.size()) + " records)",
        "launches=" + std::to_string(right) + ";left=0");
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

std::vector<std::wstring> parseCommandLine(const std::wstring& commandLine) {
    int count = 0;
    const LocalMemory<LPWSTR> argv(CommandLineToArgvW(commandLine.c_str(), &count));
    return std::vector<std::wstring>(argv.get() + 1, argv.get() + count);
}

}  // namespace

TEST(Hardening, RandomArgumentVectorsRoundTrip) {
    std::mt19937 random(20261209);
    int roundTripped = 0;
    for (int i = 0; i < 10000; ++i) {
        const std::vector<std::wstring> vector = randomVector(random);
        std::wstring typed = L"setup.exe";
        for (const std::wstring& argument : vector) {
            typed += L" " + commandline::quoteArgument(argument);
        }
        const std::wstring commandLine = getCommandLine(L"C:\\T\\kro1.tmp\\setup.exe", typed);
        const bool same = parseCommandLine(commandLine) == vector;
        EXPECT_TRUE(same) << tstrings::toMultiByte(commandLine);
        roundTripped += same;
    }

    int launched = 0;
    const int batch = 8;
    for (int first = 0; first < 200; first += batch) {
        std::vector<std::vector<std::wstring>> vectors;
        std::vector<testsupport::ScratchDir> temps(batch);
        std::vector<testsupport::RunningProcess> runs;
        for (int i = 0; i < batch; ++i) {
            vectors.push_back(randomVector(random));
            testsupport::ProcessOptions options;
            const std::wstring& temp = temps[static_cast<std::size_t>(i)].path();
            options.environment = {
                {L"TEMP", temp}, {L"TMP", temp}, {L"DEMO_INSTALLER_REPORT", temp + L"\\report.txt"}};
            runs.push_back(
                testsupport::startProcess(testsupport::binPath(L"setup.exe"), vectors.back(), options));
        }
        for (int i = 0; i < batch; ++i) {
            EXPECT_EQ(0u, runs[static_cast<std::size_t>(i)].wait());
            const std::wstring& temp = temps[static_cast<std::size_t>(i)].path();
            const auto report = testsupport::readDemoReport(temp + L"\\report.txt");
            const bool same = report.all("arg") == vectors[static_cast<std::size_t>(i)];
            EXPECT_TRUE(same);
            EXPECT_TRUE(kroEntries(temp).empty());
            launched += same;
        }
    }
    recordResult(
        "arguments",
        "10,000 random argument vectors (quotes, backslashes, blanks, tabs, empty strings, any BMP text) "
        "through the command-line builder and CommandLineToArgvW; 200 of them through real launcher runs",
        "every vector came back unchanged",
        "vectors=" + std::to_string(roundTripped) + ";launched=" + std::to_string(launched) + ";left=0");
}
