// Hooks compiled only into the test build of the launcher (KRO_LAUNCHER_TEST_HOOKS), never into the shipped
// one.
#pragma once

#include <string>

namespace testhooks {

// Between the payload's extraction and the content check: plants what KRO_TEST_PLANT names ("file" or
// "folder") in the secure directory, as an attacker racing the launcher would.
void afterExtraction(const std::wstring& secureDirectory);

}  // namespace testhooks
