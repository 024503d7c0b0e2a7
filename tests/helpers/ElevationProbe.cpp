// elevation-probe: exit code 1 when security::isProcessElevated() holds, plus 2 when security::isUserAdmin()
// does, plus 4 when the older systems' rule (security::isProcessElevated(SysInfo::WinXP)) holds; 16 when any
// of them throws.
#include <exception>

#include "Security.h"

int wmain() {
    try {
        return (security::isProcessElevated() ? 1 : 0) | (security::isUserAdmin() ? 2 : 0) |
               (security::isProcessElevated(SysInfo::WinXP) ? 4 : 0);
    } catch (const std::exception&) {
        return 16;
    }
}
