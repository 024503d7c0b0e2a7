// Where the run works: TEMP when it can hold the working directory safely, else the first usable
// machine-wide place, with one record that says why and where.
#include "WorkPlace.h"

#include <gtest/gtest.h>

#include "MachinePlaces.h"
#include "TestSupport.h"
#include "tstrings.h"

TEST(WorkPlace, EachReasonToPassAFolderOverIsNamed) {
    const struct {
        SysInfo::VolumeFacts facts;
        std::wstring reason;
    } rows[] = {{{true, 0, false, true, true}, L""},
                {{false, ERROR_PATH_NOT_FOUND, false, false, false}, L"can't be opened (system error 3 ("},
                {{true, 0, true, true, true}, L"is on a network drive"},
                {{true, 0, false, true, false}, L"has no kernel name to check the started installer against"},
                {{true, 0, false, false, true}, L"keeps no access lists"},
                {{true, 0, false, true, true, FileUtils::ObjectKind::File}, L"is a file, not a folder"},
                {{true, 0, false, true, true, FileUtils::ObjectKind::Device}, L"is a device, not a folder"}};
    for (const auto& row : rows) {
        EXPECT_EQ(0u, SysInfo::unusableBecause(row.facts).find(row.reason))
            << tstrings::toMultiByte(row.reason);
    }
    // Wine's drive N: reports itself as remote; the prefix's C: is local, keeps lists, has kernel names.
    EXPECT_TRUE(SysInfo::factsOf(FileUtils::HeldFolder::open(L"N:\\")).remote);
    EXPECT_EQ(L"", SysInfo::unusableBecause(SysInfo::factsOf(FileUtils::HeldFolder::open(L"C:\\windows"))));
    EXPECT_EQ(FileUtils::ObjectKind::Device, SysInfo::factsOf(SysInfo::openPlace(L"\\\\.\\NUL")).kind);
    // Machine-wide by what the handle names, and opened for attributes alone; any other folder held.
    const FileUtils::HeldFolder windowsTemp = SysInfo::openPlace(L"C:\\WINDOWS\\Temp\\");
    EXPECT_TRUE(SysInfo::isMachineWide(windowsTemp) && !windowsTemp.canList());
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder own = SysInfo::openPlace(scratch.path());
    EXPECT_TRUE(!SysInfo::isMachineWide(own) && own.canList() && own.path() == scratch.path());
}

TEST(WorkPlace, TheLogStaysInTempWhereItCanAndNeverGoesIntoAFile) {
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"file.txt", "x");
    const FileUtils::HeldFolder temp = FileUtils::HeldFolder::open(scratch.path());
    const FileUtils::HeldFolder file = SysInfo::openPlace(scratch / L"file.txt");
    const FileUtils::HeldFolder windows = FileUtils::HeldFolder::open(L"C:\\windows");
    using Candidates = std::vector<SysInfo::PlaceCandidate>;
    const SysInfo::PlaceCandidate usable{L"W", &windows, L""},
        passed{L"W", &windows, L"keeps no access lists"};
    EXPECT_EQ(&temp,
              SysInfo::seams::choosePlace(Candidates{{L"N:\\t", &temp, L"network"}, usable}).logFolder);
    EXPECT_EQ(&windows, SysInfo::seams::choosePlace(Candidates{{L"T", &file, L"file"}, usable}).logFolder);
    EXPECT_EQ(&windows, SysInfo::seams::choosePlace(Candidates{{L"T", &file, L"file"}, passed}).logFolder);
    EXPECT_FALSE(SysInfo::seams::choosePlace(Candidates{{L"T", &file, L"file"}}).logFolder->isHeld());
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\W\\SystemTemp", L"c:\\w\\temp"}),
              SysInfo::seams::machinePlaceTexts(L"C:\\W", L"c:\\w\\temp"))
        << "a place named twice is tried once";
}
