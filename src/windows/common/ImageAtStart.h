// The running program's writable sections as the loader handed them over: copied by a TLS callback of the
// executable, which the loader calls before the entry point and so before the C runtime's initialisers or any
// other code of the program has written into its data. Only the bytes the file supplies are kept (a section's
// zero-filled tail is not), so a copy of the program's file can be compared with what was loaded.
#pragma once

#include <windows.h>

namespace image {

// The bytes that the loaded range [rva, rva + size) of the executable held at start, or null when the range
// is not wholly inside the recorded bytes of one writable section (a read-only section, a zero-filled tail,
// or nothing recorded because the start-up copy could not get memory). Never throws.
const BYTE* atStart(DWORD rva, DWORD size);

}  // namespace image
