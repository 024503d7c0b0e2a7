// Where the run works: TEMP when it can hold the working directory safely, else the first usable
// machine-wide place, with one record that says why and where.
#include "WorkPlace.h"

#include <gtest/gtest.h>

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
                {{true, 0, false, false, true}, L"keeps no access lists"}};
    for (const auto& row : rows) {
        EXPECT_EQ(0u, SysInfo::unusableBecause(row.facts).find(row.reason))
            << tstrings::toMultiByte(row.reason);
    }
    // Wine's drive N: reports itself as remote; the prefix's C: is local, keeps lists, has kernel names.
    EXPECT_TRUE(SysInfo::factsOf(FileUtils::HeldFolder::open(L"N:\\")).remote);
    EXPECT_EQ(L"", SysInfo::unusableBecause(SysInfo::factsOf(FileUtils::HeldFolder::open(L"C:\\windows"))));
}

TEST(WorkPlace, TheFirstUsablePlaceIsTakenAndTheLogStaysInTempWhereItCan) {
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder temp = FileUtils::HeldFolder::open(scratch.path());
    const FileUtils::HeldFolder unreachable;
    const FileUtils::HeldFolder windows = FileUtils::HeldFolder::open(L"C:\\windows");
    using Candidates = std::vector<SysInfo::seams::PlaceCandidate>;
    const SysInfo::WorkPlace usual = SysInfo::seams::choosePlace(Candidates{{L"T", &temp, L""}});
    EXPECT_TRUE(usual.folder == &temp && usual.warning.empty());

    const SysInfo::WorkPlace remote =
        SysInfo::seams::choosePlace(Candidates{{L"N:\\t", &temp, L"is on a network drive"},
                                               {L"C:\\s", &unreachable, L"can't be opened"},
                                               {L"C:\\w", &windows, L""}});
    EXPECT_TRUE(remote.folder == &windows && remote.logFolder == &temp) << "TEMP still holds the log";
    EXPECT_EQ(L"TEMP [N:\\t] is on a network drive; the working directory goes to [C:\\windows] instead",
              remote.warning);

    const SysInfo::WorkPlace none = SysInfo::seams::choosePlace(Candidates{
        {L"H:\\t", &unreachable, L"can't be opened"}, {L"C:\\w", &windows, L"keeps no access lists"}});
    EXPECT_TRUE(none.folder == nullptr && none.logFolder == &windows)
        << "the first folder that can take the log";
    EXPECT_EQ(
        L"No folder can hold the working directory: TEMP [H:\\t] can't be opened; [C:\\w] keeps no access "
        L"lists; exiting.",
        none.failure);
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\W\\Temp"},
              SysInfo::seams::machinePlaces(L"c:\\w\\systemtemp", L"C:\\W", L"C:\\W\\Temp"))
        << "SYSTEM's TEMP and a repeated place are tried once";
}
