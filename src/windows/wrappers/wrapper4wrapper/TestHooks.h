// Hooks compiled only into the test build of the launcher (KRO_LAUNCHER_TEST_HOOKS), never into the shipped
// one.
#pragma once

#include <string>

namespace testhooks {

// Between the payload's extraction (the installer already held against change) and the content check:
// - KRO_TEST_PLANT "file" or "folder": plants that in the secure directory, as an attacker racing the
// launcher
//   would;
// - KRO_TEST_PAUSE_DIR: writes the child's path into "paused.txt" there, then waits (at most a minute) until
// a
//   file "continue" appears there, so that a test can attack the held installer meanwhile.
void afterExtraction(const std::wstring& secureDirectory, const std::wstring& childPath);

// Before the secure directory is made: with KRO_TEST_PAUSE_BEFORE_DIR, pauses the same way (writing an empty
// "paused.txt"), so that a test can take names in TEMP at a known moment.
void beforeSecureDirectory();

}  // namespace testhooks
