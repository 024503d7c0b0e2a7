// elevation-probe: exit code 1 when security::isProcessElevated() holds, plus 2 when security::isUserAdmin()
// does; 16 when either throws.
#include <exception>

#include "Security.h"

int wmain() {
    try {
        return (security::isProcessElevated() ? 1 : 0) | (security::isUserAdmin() ? 2 : 0);
    } catch (const std::exception&) {
        return 16;
    }
}
