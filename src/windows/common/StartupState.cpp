// The process-wide objects built before the entry point. They are defined in this one file, in the order they
// must be built: within a translation unit, objects of namespace scope are initialised in the order of their
// definitions, so the order does not depend on the order in which the linker lays out object files.
#include "SysInfo.h"
#include "WinAutoHandle.h"

namespace SysInfo {

namespace {

OSVERSIONINFOEXW osVersionRecord = {sizeof(OSVERSIONINFOEXW), 0, 0, 0, 0, {}, 0, 0, 0, 0, 0};

// First: the Windows version.
const OsVersion osVersion = seams::readOsVersion(osVersionRecord, seams::VersionSources{});

}  // namespace

OsVersion getOsVersion() {
    return osVersion;
}

}  // namespace SysInfo

// Second: the registry root, which never owns its key.
const RegKey hkcRoot(HKEY_CLASSES_ROOT, 0, withRegistryViewSuffix(L"HKC", 0));
