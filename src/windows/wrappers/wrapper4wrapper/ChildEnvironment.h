// The installer's environment: the launcher's own, but with TEMP and TMP naming the folder the run works in
// when TEMP was passed over, so that an installer that unpacks into TEMP does so where the launcher decided
// to work, not on the share or the stick it refused.
#pragma once

#include <string>

#include "FileHandles.h"

namespace launcher {

// The environment block (each "NAME=value" ended by a zero, then one more zero) for an installer whose
// working directory lies in the folder placeUsed: empty when that folder is TEMP (the installer then gets the
// launcher's environment as it is); else the launcher's own with TEMP and TMP naming placeUsed's path.
// Throws only for memory.
std::wstring installerEnvironment(const FileUtils::HeldFolder& placeUsed);

namespace seams {
// The block with TEMP and TMP (names compared without case) set to temp, each where it stands or, when
// missing, where the names' order puts it; every other entry, the hidden "=C:" ones included, unchanged and
// in its place.
std::wstring withTemp(const wchar_t* block, const std::wstring& temp);
}  // namespace seams

}  // namespace launcher
