// Where the working directory and the log go: the user's TEMP when it can hold the working directory safely,
// then the machine-wide places an administrator's run may use. A TEMP that is no folder (a file, a device),
// on a network share, on a file system without access lists (FAT, exFAT), out of the elevated session's reach
// (a mapped or SUBST drive) or on a volume whose files have no kernel name to check a started program against
// is passed over.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "FileHandles.h"

namespace SysInfo {

// What a folder and its volume say about it as a home for the working directory.
struct VolumeFacts {
    bool held = false;
    DWORD error = ERROR_SUCCESS;  // why it could not be opened
    bool remote = false;
    bool accessLists = false;
    bool kernelNamed = false;
    FileUtils::ObjectKind kind = FileUtils::ObjectKind::Folder;
};
// Reads them through the folder's handle. Never throws but for memory and the binding of ntdll.
VolumeFacts factsOf(const FileUtils::HeldFolder& folder);
// Why a folder with these facts can't hold the working directory ("is a file, not a folder", "is on a network
// drive", "keeps no access lists", ...); empty when it can.
std::wstring unusableBecause(const VolumeFacts& facts);

// One place that may hold the working directory, as TEMP or the machine configures it.
struct PlaceCandidate {
    std::wstring text;
    const FileUtils::HeldFolder* folder;
    std::wstring unusable;  // unusableBecause of its facts; empty when it may hold the working directory
};

struct WorkPlace {
    // The places in the order the working directory is tried in: TEMP first, then, when TEMP can't hold it,
    // the machineCandidates().
    std::vector<PlaceCandidate> candidates;
    // Where the log is written: TEMP when it is a folder that can be opened, else the first place that may
    // hold the working directory, else the first folder that can be opened. Never a file or a device: when
    // no folder can be opened it holds nothing, and records are dropped.
    const FileUtils::HeldFolder* logFolder = nullptr;
};

// The machine-wide folders that are not TEMP, each with why it can't hold the working directory: where a run
// goes on when TEMP can't or won't take the working directory. Opened the first time they are asked for.
// Never throws but for memory.
std::vector<PlaceCandidate> machineCandidates();

// Chosen the first time it is asked for; the folders are kept open until the process ends. Never throws but
// for memory.
const WorkPlace& workPlace();

namespace seams {
// The places with the log's folder chosen among them (candidates TEMP first).
WorkPlace choosePlace(const std::vector<PlaceCandidate>& candidates);
}  // namespace seams

}  // namespace SysInfo
