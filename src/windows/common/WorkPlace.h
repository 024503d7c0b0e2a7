// Where the working directory and the log go: the user's TEMP when it can hold the working directory safely,
// else the first of the machine-wide places an administrator's run may use. A TEMP on a network share, on a
// file system without access lists (FAT, exFAT), out of the elevated session's reach (a mapped or SUBST
// drive) or on a volume whose files have no kernel name to check a started program against is passed over.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FileHandles.h"

namespace SysInfo {

// What a folder's volume says about it as a home for the working directory.
struct VolumeFacts {
    bool held = false;
    DWORD error = ERROR_SUCCESS;  // why it could not be opened
    bool remote = false;
    bool accessLists = false;
    bool kernelNamed = false;
};
// Reads them through the held folder. Never throws but for memory and the binding of ntdll.
VolumeFacts factsOf(const FileUtils::HeldFolder& folder);
// Why a folder with these facts can't hold the working directory ("is on a network drive", "keeps no access
// lists", ...); empty when it can.
std::wstring unusableBecause(const VolumeFacts& facts);

struct WorkPlace {
    // Where the working directory is made; null when no place is usable.
    const FileUtils::HeldFolder* folder = nullptr;
    // Where the log is written: TEMP when it can be opened, else the working directory's folder, else the
    // first place that can be opened.
    const FileUtils::HeldFolder* logFolder = nullptr;
    // When TEMP was passed over, the WARNING record that says why and where the run went instead.
    std::wstring warning;
    // When no place is usable, the ERROR record that says why for each.
    std::wstring failure;
};

// Chosen the first time it is asked for; the folders are held until the process ends. Never throws but for
// memory.
const WorkPlace& workPlace();

namespace seams {
// One place that may hold the working directory, as TEMP or the machine configures it.
struct PlaceCandidate {
    std::wstring text;
    const FileUtils::HeldFolder* folder;
    std::wstring unusable;  // unusableBecause of its facts
};
// The choice among the candidates, TEMP first.
WorkPlace choosePlace(const std::vector<PlaceCandidate>& candidates);
// The machine-wide places, in the order they are tried: SYSTEM's SystemTemp, the system-wide TEMP, the
// Windows directory's Temp; one that names TEMP again, or an earlier one, is left out.
std::vector<std::wstring> machinePlaces(const std::wstring& temp, const std::wstring& windowsDirectory,
                                        const std::wstring& systemTemp);
}  // namespace seams

}  // namespace SysInfo
