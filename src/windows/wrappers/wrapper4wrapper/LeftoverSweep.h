// Removing what earlier runs left in the working directory's folder: the directories of killed runs and of
// removals that gave up. Only what an administrator made is entered, and a run spends little on it, however
// many lookalikes someone plants.
#pragma once

#include <windows.h>

#include <string>

#include "FileHandles.h"

namespace launcher {

// At most this many leftovers are removed a run, in about this much time; the rest waits for later runs.
constexpr int leftoversPerRun = 16;
constexpr DWORD sweepBudgetMs = 1000;

// Removes the working directories that earlier runs left in the held folder: entries named exactly "kro" +
// number + ".tmp" that are directories, owned by Administrators or SYSTEM and protected by the launcher's own
// access list (anything else is left alone without a record: a user can plant such names, and make such a
// name a folder of theirs). A directory that some running launcher holds refuses the DELETE access this asks
// for first, and is skipped. A folder that can't be listed through its handle (a machine-wide one) is listed
// through a handle of its own, and not swept when that is refused (someone holds it sharing nothing). Writes
// the TRACE records of each removal and one summary record when any leftover was found: INFO "Leftovers of
// earlier runs removed: N", or WARNING with "; left for the next run: " and the paths left. Never throws.
void removeLeftovers(const FileUtils::HeldFolder& folder);

// True for "kro" + decimal number (a minus sign allowed) + ".tmp", exactly.
bool isLeftoverName(const std::wstring& name);

// Test builds only: a judge that can declare every directory made by an administrator, since Wine keeps no
// owners.
using OwnershipOverride = bool (*)();
void setOwnershipOverride(OwnershipOverride override);

}  // namespace launcher
