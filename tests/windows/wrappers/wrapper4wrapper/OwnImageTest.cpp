// The launcher's own file tried by each of its names in turn, every failure named: the mapping's name and the
// opens are the test's; the check that a file is the running program (this one) is real.
#include "OwnImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "LauncherRun.h"
#include "SysInfo.h"
#include "TestSupport.h"
#include "WinErrorHandling.h"

namespace {

std::wstring mappedName;
DWORD WINAPI fakeMappedFileName(HANDLE, LPVOID, LPWSTR buffer, DWORD size) {
    mappedName.copy(buffer, size);
    return static_cast<DWORD>(mappedName.size());
}

// What an open of a name answers: a status, after opening the file named for real where one is.
struct Answer {
    std::wstring name;
    NTSTATUS status;
    std::wstring file;
};
std::vector<Answer> answers;
std::vector<std::wstring> asked;

NTSTATUS NTAPI answeringNtCreateFile(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                     PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes,
                                     ULONG share, ULONG disposition, ULONG options, PVOID ea,
                                     ULONG eaLength) {
    asked.emplace_back(attributes->ObjectName->Buffer, attributes->ObjectName->Length / sizeof(wchar_t));
    // Never waiting for another's lock, never letting anyone write, rename or delete the file.
    EXPECT_NE(0u, options & FILE_COMPLETE_IF_OPLOCKED);
    EXPECT_EQ(static_cast<ULONG>(FILE_SHARE_READ), share);
    const auto answer =
        std::find_if(answers.begin(), answers.end(), [](const Answer& a) { return a.name == asked.back(); });
    if (answer == answers.end() || answer->file.empty()) {
        return answer == answers.end() ? static_cast<NTSTATUS>(0xC000003A)
                                       : answer->status;  // path not found
    }
    std::wstring name = L"\\??\\" + answer->file;
    UNICODE_STRING text{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2), &name[0]};
    OBJECT_ATTRIBUTES real = *attributes;
    real.ObjectName = &text;
    const NTSTATUS opened = FileUtils::boundNtCreateFile()(handle, access, &real, io, size, fileAttributes,
                                                           share, disposition, options, ea, eaLength);
    return opened == 0 ? answer->status : opened;
}

std::wstring cantOpen(DWORD error) {
    return L"] can't be opened (" + formatSystemError(error, nullptr) + L")";
}

}  // namespace

TEST(OwnImage, EachNameIsTriedInTurnAndEveryFailureNamed) {
    const std::wstring self = SysInfo::getProcessModulePath();
    const std::wstring other = testsupport::binPath(L"demo-installer.exe");
    const std::wstring session = L"\\Device\\LanmanRedirector\\;Z:00000000000a1b2c\\server\\share\\setup.exe";
    const std::wstring viaMup =
        L"\\Device\\Mup\\;LanmanRedirector\\;Z:00000000000a1b2c\\server\\share\\setup.exe";
    const std::wstring share = L"\\Device\\Mup\\server\\share\\setup.exe";
    const std::wstring started = L"\\\\server\\share\\setup.exe";
    const std::wstring notHeld = L"The launcher's file can't be held as the program that runs: ";
    const struct {
        std::wstring mapped;  // empty: the system has no GetMappedFileNameW
        std::wstring startedAs;
        std::vector<Answer> answers;
        std::vector<std::wstring> asked;
        std::wstring said;  // what verify() throws, or the WARNING it writes; empty: the file is held
    } rows[] = {
        // Refused, then another's oplock being broken, then not found: a run from a share ends.
        {session,
         started,
         {{session, static_cast<NTSTATUS>(0xC0000022), L""}, {share, 0x108, other}},
         {session, share, L"\\??\\UNC\\server\\share\\setup.exe"},
         notHeld + L"[" + session + cantOpen(5) + L"; [" + share + cantOpen(742) + L"; [" + started +
             cantOpen(3) + L", exiting"},
        // No such share (0xC00000CC), another program under the share's name; the started path is the running
        // program.
        {viaMup,
         self,
         {{viaMup, static_cast<NTSTATUS>(0xC00000CC), L""}, {share, 0, other}, {L"\\??\\" + self, 0, self}},
         {viaMup, share, L"\\??\\" + self},
         L""},
        // No name for the mapping, the started path gone: a local run goes on.
        {L"",
         L"C:\\absent\\setup.exe",
         {},
         {L"\\??\\C:\\absent\\setup.exe"},
         L"WARNING: " + notHeld +
             L"the system names no file for the running image (GetMappedFileNameW is not available); "
             L"[C:\\absent\\setup.exe" +
             cantOpen(3) + L"; the run goes on from the program in memory"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(tstrings::toMultiByte(row.mapped + L" " + row.startedAs));
        mappedName = row.mapped;
        answers = row.answers;
        asked.clear();
        testsupport::removeLog();
        const launcher::OwnImage image = launcher::OwnImage::hold(
            row.mapped.empty() ? nullptr : &fakeMappedFileName, row.startedAs, &answeringNtCreateFile);
        EXPECT_EQ(row.asked, asked);
        EXPECT_EQ(row.said.empty(), image.isHeld());
        EXPECT_EQ(row.said.empty() ? self : row.startedAs, image.path());
        std::wstring said;
        try {
            image.verify();
            const std::vector<std::wstring> records = testsupport::messagesOf(testsupport::readLog());
            said = records.empty() ? said : records.front();
        } catch (const std::exception& e) {
            said = tstrings::fromMultiByte(e.what());
            said.erase(0, said.find(notHeld));
        }
        EXPECT_EQ(row.said, said);
    }
}
