// The machine-wide temporary folders: SYSTEM's SystemTemp, the system-wide TEMP and the Windows directory's
// Temp. Every user may create names in some of them and open them sharing nothing, which would refuse every
// later open that asks to list or add; but only administrators can rename or delete them (or the Windows
// directory above them), so they need no hold. They are opened for their attributes alone, which no share
// mode refuses, and everything in them is opened relative to that handle.
#pragma once

#include <string>
#include <vector>

#include "FileHandles.h"

namespace SysInfo {

// One machine-wide folder: its path as the system configures it, and the folder opened for attributes
// (holding nothing, with the reason, when it can't be opened).
struct MachinePlace {
    std::wstring text;
    const FileUtils::HeldFolder* folder;
};
// The machine-wide folders in the order they are tried, opened (for attributes) the first time they are
// asked for and kept open until the process ends; a folder named twice is listed once. Never throws but for
// memory.
const std::vector<MachinePlace>& machinePlaces();

// True when the folder is one of the machine-wide folders by what its handle names (its final path, links
// resolved, against the paths the system configures), not by the text it was reached by: a user's TEMP that
// is a junction to C:\Windows\Temp is machine-wide too. Nothing is opened for it.
bool isMachineWide(const FileUtils::HeldFolder& folder);

// Opens the folder at path as a place to work in: a machine-wide folder for its attributes alone; any other
// folder held (HeldFolder::open), reopened through the first handle so that nobody can re-point the path
// between the two; what is not a folder (a file, a device) for its attributes, to be passed over. Never
// throws but for memory.
FileUtils::HeldFolder openPlace(const std::wstring& path);

namespace seams {
// The machine-wide folders' paths, in the order they are tried: SYSTEM's SystemTemp, the system-wide TEMP,
// the Windows directory's Temp; one named before (ASCII letters compared without case) is left out.
std::vector<std::wstring> machinePlaceTexts(const std::wstring& windowsDirectory,
                                            const std::wstring& systemTemp);
}  // namespace seams

}  // namespace SysInfo
