// Making the working directory in the first place that takes it: TEMP, then the machine-wide places. A place
// passed over, or one that refuses the directory (access denied, a full disk, no free name), hands the run
// over to the next, and the log says which places were left and why.
#pragma once

#include <memory>
#include <vector>

#include "SecureDirectory.h"
#include "WorkPlace.h"

namespace launcher {

// Removes the leftovers of earlier runs from each place that may hold the working directory, in order, and
// creates the directory in the first that takes it. When that is not TEMP, writes one WARNING record that
// names TEMP and each place that refused the directory, with why, and where it went instead: "TEMP [T] is a
// file, not a folder; [P] refused the working directory (...); the working directory goes to [Q] instead".
// When no place takes it, writes the ERROR record "No folder can hold the working directory: " with every
// place and why, "; exiting.", and returns null. Throws only what writing a record throws.
std::unique_ptr<SecureDirectory> createInFirstPlace(const SysInfo::WorkPlace& place);

namespace seams {
// The same with the directory made by make (createSecureDirectory in the launcher), and, once the place's
// candidates are used up, the places more() gives that are not among them (SysInfo::machineCandidates).
using DirectoryMaker = SecureDirectory (*)(const FileUtils::HeldFolder& parent);
using MorePlaces = std::vector<SysInfo::PlaceCandidate> (*)();
std::unique_ptr<SecureDirectory> createInFirstPlace(const SysInfo::WorkPlace& place, DirectoryMaker make,
                                                    MorePlaces more = nullptr);
}  // namespace seams

}  // namespace launcher
