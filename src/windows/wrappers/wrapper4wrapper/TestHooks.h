// Hooks compiled only into the test build of the launcher (KRO_LAUNCHER_TEST_HOOKS), never into the shipped
// one.
#pragma once

#include <string>

namespace testhooks {

// When the environment names this moment in KRO_TEST_PAUSE_AT, writes text (a path the test needs) into
// "paused.txt" in the folder KRO_TEST_PAUSE_DIR, then waits (at most a minute) until a file "continue"
// appears there, so that a test can act at a known moment: "image-not-held" (the entry, before the launcher
// holds its own file), "before-directory", "directory-created", "installer-written", "installer-ended",
// "hold-released".
void pauseAt(const wchar_t* moment, const std::wstring& text);

// With KRO_TEST_PLANT "file" or "folder", plants that as "foreign" in the secure directory, as an attacker
// racing the launcher would.
void plant(const std::wstring& secureDirectory);

// True when KRO_TEST_OWNER is "Administrators": every directory counts as made by an administrator with the
// launcher's access list, which Wine, keeping no owners, can't show.
bool everyDirectoryIsAdministrators();

}  // namespace testhooks
