// The launcher's steps driven directly: argument quoting, the silent-run keys, the secure directory.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildEnvironment.h"
#include "ChildProcess.h"
#include "LauncherRun.h"
#include "LocalMemory.h"
#include "MachinePlaces.h"
#include "PlaceHandover.h"
#include "PrivilegeGate.h"
#include "Retry.h"
#include "SecureDirectory.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"

namespace {}  // namespace

TEST(LauncherSteps, TheChildGetsTheLaunchersCommandLineAsTyped) {
    const std::wstring path = L"C:\\T\\kro1.tmp\\setup.exe";
    const std::wstring child = L"\"" + path + L"\"";
    const struct {
        std::wstring launcher, tail;
    } rows[] = {
        {L"setup.exe", L""},
        {L"setup.exe /S /D=C:\\Program Files\\Demo App", L" /S /D=C:\\Program Files\\Demo App"},
        {L"\"C:\\my dir\\setup.exe\" /quiet PROPERTY=\"value with spaces\"",
         L" /quiet PROPERTY=\"value with spaces\""},
        {L"\"C:\\dist\\setup.exe\"/S", L"/S"},
        {L"setup.exe \t  a  \t b", L" \t  a  \t b"},
        {L"setup.exe\t/s", L"\t/s"},
        {L"setup.exe /v\"/qn INSTALLDIR=\\\"C:\\Program Files\\X\\\"\"",
         L" /v\"/qn INSTALLDIR=\\\"C:\\Program Files\\X\\\"\""},
        {L"setup.exe C:\\dir\\ \"\" caf\u00E9", L" C:\\dir\\ \"\" caf\u00E9"},
        {L"\"C:\\never closed", L""},
    };
    for (const auto& row : rows) {
        const std::wstring commandLine = getCommandLine(path, row.launcher);
        EXPECT_EQ(child + row.tail, commandLine) << tstrings::toMultiByte(row.launcher);
        // Standard parsing therefore gives the child the launcher's arguments.
        std::vector<std::wstring> expected = testsupport::splitCommandLine(row.launcher);
        expected[0] = path;
        EXPECT_EQ(expected, testsupport::splitCommandLine(commandLine))
            << tstrings::toMultiByte(row.launcher);
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

// What createSecureDirectory asks NtCreateFile for, recorded on the way to the real call; the first
// `refusals` calls are answered with `refusal` instead.
struct CreateRequest {
    std::wstring name;
    std::wstring sddl;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    ACCESS_MASK access = 0;
    ULONG share = 0, disposition = 0, options = 0;
};
std::vector<CreateRequest> requests;
int refusals = 0;
NTSTATUS refusal = 0;

NTSTATUS NTAPI recordingNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                     PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes,
                                     ULONG share, ULONG disposition, ULONG options, PVOID ea,
                                     ULONG eaLength) {
    CreateRequest request;
    request.name.assign(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(wchar_t));
    wchar_t* text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
            attributes->SecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
            nullptr)) {
        const LocalMemory<wchar_t> owner(text);
        request.sddl = text;
        DWORD revision = 0;
        GetSecurityDescriptorControl(attributes->SecurityDescriptor, &request.control, &revision);
    }
    request.access = access;
    request.share = share;
    request.disposition = disposition;
    request.options = options;
    requests.push_back(request);
    if (refusals > 0) {
        --refusals;
        return refusal;
    }
    return FileUtils::boundNtCreateFile()(handle, access, attributes, io, size, fileAttributes, share,
                                          disposition, options, ea, eaLength);
}

// A random source that says what it will answer: numbers past 2^31 from a start of the test's choosing.
std::uint32_t firstNumber = 0;
std::uint32_t nextNumber = 0;
std::uint32_t scriptedRandom() {
    return nextNumber++;
}
void startNumbersAt(std::uint32_t first) {
    firstNumber = nextNumber = first;
}

std::wstring nameFor(std::uint32_t number) {
    return L"kro" + std::to_wstring(number) + L".tmp";
}

}  // namespace

TEST(LauncherSteps, TheSecureDirectoryIsCreatedHeldAndProtectedInOneCall) {
    requests.clear();
    testsupport::removeLog();
    std::wstring path;
    {
        startNumbersAt(0xFFFFFF00u);
        const launcher::SecureDirectory directory =
            createSecureDirectory(SysInfo::heldTempDir(), &recordingNtCreateFile, &scriptedRandom);
        path = directory.path();
        ASSERT_EQ(1u, requests.size());
        const CreateRequest& request = requests[0];
        EXPECT_EQ(L"kro4294967040.tmp", request.name) << "the random number, unsigned";
        EXPECT_EQ(SysInfo::heldTempDir().path() + L"\\" + request.name, path);
        EXPECT_EQ(L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", request.sddl);
        EXPECT_EQ(SE_DACL_PRESENT | SE_DACL_PROTECTED,
                  request.control & (SE_DACL_PRESENT | SE_DACL_PROTECTED));
        EXPECT_EQ(static_cast<ULONG>(FILE_CREATE), request.disposition);
        EXPECT_EQ(static_cast<ULONG>(FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT |
                                     FILE_COMPLETE_IF_OPLOCKED | FILE_SYNCHRONOUS_IO_NONALERT),
                  request.options);
        EXPECT_EQ(static_cast<ULONG>(FILE_SHARE_READ | FILE_SHARE_WRITE), request.share);
        EXPECT_EQ(0u, request.access & DELETE)
            << "a DELETE holder would keep the installer from starting there";
    }
    EXPECT_FALSE(FileUtils::pathExists(path));
    EXPECT_EQ((std::vector<std::wstring>{L"TRACE: Created [" + path + L"] directory",
                                         L"TRACE: Deleted [" + path + L"] directory"}),
              testsupport::messagesOf(testsupport::readLog()));
}

TEST(LauncherSteps, TakenNamesAreSkippedAndOtherFailuresThrown) {
    constexpr NTSTATUS collision = static_cast<NTSTATUS>(0xC0000035);
    constexpr NTSTATUS deletePending = static_cast<NTSTATUS>(0xC0000056);
    constexpr NTSTATUS accessDenied = static_cast<NTSTATUS>(0xC0000022);
    struct Row {
        int refusals;
        NTSTATUS refusal;
        std::size_t calls;
        const char* error;  // empty: created under the name after the refused ones
    };
    const Row rows[] = {
        {3, collision, 4, ""},
        {2, deletePending, 3, ""},
        {100, collision, 100, "No free name for the secure directory in "},
        {1, accessDenied, 1, ") failed. System error [5]"},
    };
    for (const Row& row : rows) {
        requests.clear();
        refusals = row.refusals;
        refusal = row.refusal;
        startNumbersAt(GetTickCount());
        try {
            const launcher::SecureDirectory directory =
                createSecureDirectory(SysInfo::heldTempDir(), &recordingNtCreateFile, &scriptedRandom);
            EXPECT_STREQ("", row.error);
            EXPECT_EQ(nameFor(firstNumber + static_cast<std::uint32_t>(row.refusals)),
                      FileUtils::getFileName(directory.path()));
        } catch (const std::exception& e) {
            EXPECT_NE(std::string::npos, std::string(e.what()).find(row.error)) << e.what();
            EXPECT_NE(std::string(""), row.error) << e.what();
        }
        EXPECT_EQ(row.calls, requests.size());
    }
    refusals = 0;
}

namespace {

// A clock that Sleep advances as Windows does: by whole timer ticks of 15.625 ms, however short the wait.
ULONGLONG fakeMicroseconds = 0;
ULONGLONG WINAPI fakeTickCount() {
    return fakeMicroseconds / 1000;
}
void WINAPI tickRoundingSleep(DWORD ms) {
    const ULONGLONG tick = 15625;
    fakeMicroseconds += (ms * 1000ull + tick - 1) / tick * tick;
}

}  // namespace

TEST(LauncherSteps, TheRemovalGivesUpOnTheClockNotOnACountOfWaits) {
    fakeMicroseconds = 0;
    int attempts = 0;
    const bool removed = FileUtils::retryUntilDeadline(
        launcher::removalDeadlineMs, launcher::removalStepMs,
        [&] {
            ++attempts;
            return false;
        },
        &fakeTickCount, &tickRoundingSleep);
    EXPECT_FALSE(removed);
    EXPECT_GE(fakeTickCount(), 5000u);
    EXPECT_LT(fakeTickCount(), 5000u + 2 * 63u) << "about 5 s of waiting, whatever a wait really lasts";
    EXPECT_GT(attempts, 50);
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

namespace {

std::wstring reportPath;

// Answers a path other than the installer's, and first gives a child that was not started suspended time
// to show that it runs (it writes its report).
BOOL WINAPI elsewhereImageName(HANDLE, DWORD, LPWSTR name, PDWORD size) {
    testsupport::waitUntil([] { return FileUtils::pathExists(reportPath); }, 2000);
    const std::wstring elsewhere = L"C:\\elsewhere\\setup.exe";
    elsewhere.copy(name, elsewhere.size());
    name[elsewhere.size()] = L'\0';
    *size = static_cast<DWORD>(elsewhere.size());
    return TRUE;
}

}  // namespace

TEST(LauncherSteps, AStartedProgramThatIsNotTheInstallerIsEndedBeforeItRuns) {
    const testsupport::ScratchDir scratch;
    const std::wstring child = scratch / L"setup.exe";
    ASSERT_TRUE(CopyFileW(testsupport::binPath(L"demo-installer.exe").c_str(), child.c_str(), FALSE));
    const std::wstring report = scratch / L"report.txt";
    reportPath = report;
    SetEnvironmentVariableW(L"DEMO_INSTALLER_REPORT", report.c_str());
    const auto holdInstaller = [&] {
        return WinAutoHandle<HANDLE>(
            CreateFileW(child.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    };
    const std::wstring written = FileUtils::ntPathOf(holdInstaller().get());
    ASSERT_EQ(0u, written.find(L"\\Device\\")) << "named in the kernel's namespace";
    try {
        execProcessWaitForFinish(child, L"\"" + child + L"\" /exit=5", holdInstaller(), {},
                                 &elsewhereImageName);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string::npos, std::string(e.what()).find(
                                         "): The started program [C:\\elsewhere\\setup.exe] is not the "
                                         "installer that was written [" +
                                         tstrings::toMultiByte(written) + "]: it was ended before it ran"))
            << e.what();
    }
    EXPECT_FALSE(FileUtils::pathExists(report)) << "the program never ran a line of its own";

    EXPECT_EQ(5u, execProcessWaitForFinish(child, L"\"" + child + L"\" /exit=5", holdInstaller()));
    EXPECT_TRUE(FileUtils::pathExists(report)) << "the installer itself runs";
    SetEnvironmentVariableW(L"DEMO_INSTALLER_REPORT", nullptr);
}

TEST(LauncherSteps, CleanUpNeverEndsTheProcessWhenARecordThrows) {
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"doomed.txt", "x");
    std::wstring directory;
    {
        std::unique_ptr<testsupport::ThrowingLog> throwing;
        const launcher::SecureDirectory secure = createSecureDirectory(SysInfo::heldTempDir());
        directory = secure.path();
        throwing = std::make_unique<testsupport::ThrowingLog>();
        FileUtils::ScopedDeleter deleter(false);
        deleter.appendFile(scratch / L"doomed.txt");
        const WinAutoHandle<HANDLE> alreadyClosed(reinterpret_cast<HANDLE>(0x1234));
    }
    EXPECT_FALSE(FileUtils::pathExists(scratch / L"doomed.txt"));
    EXPECT_FALSE(FileUtils::pathExists(directory));
}

namespace {

// A file system that answers neither FileAttributeTagInfo nor FileIdInfo, as FAT and exFAT don't.
BOOL WINAPI fatQuery(HANDLE handle, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID buffer, DWORD size) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return kind != FileAttributeTagInfo && kind != 18 /* FileIdInfo */ &&
           GetFileInformationByHandleEx(handle, kind, buffer, size);
}

// A volume the mount manager doesn't know: no drive-letter or GUID path, only the kernel's name.
DWORD WINAPI kernelNameOnly(HANDLE handle, LPWSTR path, DWORD size, DWORD flags) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return (flags & VOLUME_NAME_NT) != 0 ? GetFinalPathNameByHandleW(handle, path, size, flags) : 0;
}

}  // namespace

TEST(LauncherSteps, TheRunWorksWhereTheFileSystemOrTheMountManagerKnowsLess) {
    const std::pair<FileUtils::seams::InformationFunction, FileUtils::FinalPathFunction> rows[] = {
        {&fatQuery, &GetFinalPathNameByHandleW}, {nullptr, &kernelNameOnly}};
    const std::string installer = testsupport::readFileBytes(testsupport::binPath(L"demo-installer.exe"));
    const auto bytes =
        FileUtils::ByteSource::inMemory(installer.data(), static_cast<DWORD>(installer.size()));
    for (const auto& [query, finalPath] : rows) {
        // TEMP given with an 8.3 component: paths go by the long names (on Windows the started program's
        // kernel name would have the short one and fail the check).
        const testsupport::ScratchDir scratch(L"long folder name");
        wchar_t shortPath[MAX_PATH] = {};
        ASSERT_NE(0u, GetShortPathNameW(scratch.path().c_str(), shortPath, MAX_PATH));
        ASSERT_NE(scratch.path(), shortPath);
        const FileUtils::HeldFolder temp = FileUtils::HeldFolder::open(shortPath, finalPath);
        EXPECT_EQ(scratch.path(), temp.path());
        testsupport::removeLog();
        FileUtils::seams::setInformationQuery(query);
        std::wstring dir;
        {
            const launcher::SecureDirectory secure = createSecureDirectory(temp);
            dir = secure.path();
            const std::wstring child = dir + L"\\setup.exe";
            EXPECT_EQ(5u, execProcessWaitForFinish(child, L"\"" + child + L"\" /exit=5 /touch=made.txt",
                                                   secure.writeFile(L"setup.exe", bytes)));
        }
        FileUtils::seams::setInformationQuery(nullptr);
        std::vector<std::wstring> messages = testsupport::messagesWithoutTimes(testsupport::readLog());
        std::sort(messages.begin(), messages.end());  // the listing's order is the file system's
        EXPECT_EQ((std::vector<std::wstring>{L"INFO: [" + dir +
                                                 L"\\setup.exe] ended with exit code 5 "
                                                 L"(0x00000005) after N s",
                                             L"TRACE: Created [" + dir + L"\\setup.exe] file",
                                             L"TRACE: Created [" + dir + L"] directory",
                                             L"TRACE: Deleted [" + dir + L"\\made.txt] file",
                                             L"TRACE: Deleted [" + dir + L"\\setup.exe] file",
                                             L"TRACE: Deleted [" + dir + L"] directory"}),
                  messages)
            << "the run works and removes everything, what the installer wrote included";
    }
}

namespace {

// Places that refuse the working directory, each with what its creation throws there.
std::map<const FileUtils::HeldFolder*, std::string> refusingPlaces;
launcher::SecureDirectory makeOrRefuse(const FileUtils::HeldFolder& parent) {
    if (refusingPlaces.count(&parent) != 0) {
        throw std::runtime_error(refusingPlaces[&parent]);
    }
    return createSecureDirectory(parent);
}

}  // namespace

TEST(LauncherSteps, APlaceThatRefusesTheDirectoryHandsOverToTheNext) {
    const testsupport::ScratchDir a, b;
    const FileUtils::HeldFolder file = SysInfo::openPlace(testsupport::binPath(L"setup.exe")),
                                full = FileUtils::HeldFolder::open(a.path()),
                                free = FileUtils::HeldFolder::open(b.path());
    refusingPlaces = {{&full, "System error [112]"}};  // as a full disk makes the creation throw
    SysInfo::WorkPlace place{{{L"T", &file, L"is a file, not a folder"},
                              {L"X", &file, L"can't be opened (x)"},
                              {L"A", &full, L""},
                              {L"B", &free, L""}},
                             &free};
    testsupport::removeLog();
    EXPECT_EQ(&free, &launcher::seams::createInFirstPlace(place, &makeOrRefuse)->place());
    place.candidates.pop_back();
    EXPECT_EQ(nullptr, launcher::seams::createInFirstPlace(place, &makeOrRefuse));
    const std::vector<std::wstring> messages = testsupport::messagesOf(testsupport::readLog());
    ASSERT_EQ(4u, messages.size());  // the directory made and removed, the WARNING, the ERROR
    const std::wstring refused = L"[A] refused the working directory (System error [112])";
    EXPECT_EQ(L"WARNING: TEMP [T] is a file, not a folder; " + refused +
                  L"; the working directory goes to [" + b.path() + L"] instead",
              messages[1])
        << "a place that was never usable is left out";
    EXPECT_EQ(
        L"ERROR: No folder can hold the working directory: TEMP [T] is a file, not a folder; [X] can't be "
        L"opened (x); " +
            refused + L"; exiting.",
        messages[3]);
}

TEST(LauncherSteps, TheInstallerGetsThePlaceUsedAsTempAndNothingElseChanges) {
    // Blocks written with "|" for each terminating zero.
    const std::pair<std::wstring, std::wstring> rows[] = {
        {L"=C:=C:\\x|A=1|Temp=C:\\old|tmp=C:\\old|Z=2||", L"=C:=C:\\x|A=1|Temp=P:\\used|tmp=P:\\used|Z=2||"},
        {L"A=1|TEMPDIR=x|Z=2||", L"A=1|TEMP=P:\\used|TEMPDIR=x|TMP=P:\\used|Z=2||"},
        {L"|", L"TEMP=P:\\used|TMP=P:\\used||"}};
    for (auto [block, expected] : rows) {
        std::replace(block.begin(), block.end(), L'|', L'\0');
        std::replace(expected.begin(), expected.end(), L'|', L'\0');
        EXPECT_EQ(expected, launcher::seams::withTemp(block.c_str(), L"P:\\used"))
            << tstrings::toMultiByte(block);
    }
    EXPECT_EQ(L"", launcher::installerEnvironment(SysInfo::heldTempDir())) << "TEMP used: the launcher's own";
}
