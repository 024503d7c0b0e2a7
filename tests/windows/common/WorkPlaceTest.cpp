// Where the run works: TEMP when it can hold the working directory safely, else the machine-wide places; the
// machine-wide folders opened so that nobody's open of them refuses the run.
#include "WorkPlace.h"

#include <gtest/gtest.h>

#include "MachinePlaces.h"
#include "TestSupport.h"
#include "tstrings.h"

using FileUtils::ObjectKind;

TEST(WorkPlace, EachReasonToPassAFolderOverIsNamed) {
    const struct {
        SysInfo::VolumeFacts facts;
        std::wstring reason;
    } rows[] = {{{true, 0, ObjectKind::Folder, false, true, true}, L""},
                {{false, ERROR_PATH_NOT_FOUND, ObjectKind::Folder, false, false, false},
                 L"can't be opened (system error 3 ("},
                {{true, 0, ObjectKind::File, false, true, true}, L"is a file, not a folder"},
                {{true, 0, ObjectKind::Device, false, true, true}, L"is a device, not a folder"},
                {{true, 0, ObjectKind::Folder, true, true, true}, L"is on a network drive"},
                {{true, 0, ObjectKind::Folder, false, true, false},
                 L"has no kernel name to check the started installer against"},
                {{true, 0, ObjectKind::Folder, false, false, true}, L"keeps no access lists"}};
    for (const auto& row : rows) {
        EXPECT_EQ(0u, SysInfo::unusableBecause(row.facts).find(row.reason))
            << tstrings::toMultiByte(row.reason);
    }
    // Wine's drive N: reports itself as remote; the prefix's C: is local, keeps lists, has kernel names; a
    // file and the NUL device open as places (for attributes) and are told apart from folders.
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"file.txt", "x");
    EXPECT_TRUE(SysInfo::factsOf(FileUtils::HeldFolder::open(L"N:\\")).remote);
    const struct {
        std::wstring path;
        ObjectKind kind;
    } opened[] = {{L"C:\\windows", ObjectKind::Folder},
                  {scratch / L"file.txt", ObjectKind::File},
                  {L"\\\\.\\NUL", ObjectKind::Device}};
    for (const auto& row : opened) {
        const SysInfo::VolumeFacts facts = SysInfo::factsOf(SysInfo::openPlace(row.path));
        EXPECT_TRUE(facts.held && facts.kind == row.kind) << tstrings::toMultiByte(row.path);
    }
    EXPECT_EQ(L"", SysInfo::unusableBecause(SysInfo::factsOf(SysInfo::openPlace(L"C:\\windows"))));
}

TEST(WorkPlace, MachineWideFoldersAreKnownByWhatTheHandleNamesAndHoldNothing) {
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder windowsTemp = SysInfo::openPlace(L"C:\\WINDOWS\\Temp\\");
    EXPECT_TRUE(SysInfo::isMachineWide(windowsTemp));
    EXPECT_FALSE(windowsTemp.canList()) << "opened for its attributes alone";
    const FileUtils::HeldFolder own = SysInfo::openPlace(scratch.path());
    EXPECT_FALSE(SysInfo::isMachineWide(own));
    EXPECT_TRUE(own.canList()) << "any other folder is held";
    EXPECT_EQ(scratch.path(), own.path());
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\W\\SystemTemp", L"c:\\w\\temp"}),
              SysInfo::seams::machinePlaceTexts(L"C:\\W", L"c:\\w\\temp"))
        << "a place named twice is tried once";
}

TEST(WorkPlace, TheLogStaysInTempWhereItCanAndNeverGoesIntoAFileOrADevice) {
    const testsupport::ScratchDir scratch;
    testsupport::writeFileBytes(scratch / L"file.txt", "x");
    const FileUtils::HeldFolder temp = FileUtils::HeldFolder::open(scratch.path());
    const FileUtils::HeldFolder file = SysInfo::openPlace(scratch / L"file.txt");
    const FileUtils::HeldFolder unreachable;
    const FileUtils::HeldFolder windows = FileUtils::HeldFolder::open(L"C:\\windows");
    using Candidates = std::vector<SysInfo::PlaceCandidate>;
    const struct {
        Candidates candidates;
        const FileUtils::HeldFolder* log;
    } rows[] = {
        {{{L"T", &temp, L""}, {L"W", &windows, L""}}, &temp},
        {{{L"T", &temp, L"is on a network drive"}, {L"W", &windows, L""}}, &temp},
        {{{L"T", &file, L"is a file, not a folder"}, {L"U", &unreachable, L"x"}, {L"W", &windows, L""}},
         &windows},
        {{{L"T", &file, L"is a file, not a folder"}, {L"W", &windows, L"keeps no access lists"}}, &windows},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.log, SysInfo::seams::choosePlace(row.candidates).logFolder)
            << tstrings::toMultiByte(row.candidates[0].unusable);
    }
    const FileUtils::HeldFolder* nowhere =
        SysInfo::seams::choosePlace(Candidates{{L"T", &file, L"is a file, not a folder"}}).logFolder;
    EXPECT_FALSE(nowhere->isHeld()) << "no folder at all: records are dropped, not written into the file";
}
