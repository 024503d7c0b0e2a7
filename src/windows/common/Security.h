// Process-token security: is this process elevated, and the SID and descriptor objects handed to Windows.
#pragma once

#include <windows.h>

#include <vector>

#include "SysInfo.h"
#include "tstrings.h"

namespace security {

// A security identifier held by value, built from its string form ("BA", "S-1-5-32-544").
class Sid {
public:
    // Throws KroError<SysError> "ConvertStringSidToSid failed" or "CopySid failed".
    explicit Sid(const tstrings::TextBuilder& text);
    // Points into this object; valid while it lives.
    operator PSID() const { return const_cast<BYTE*>(buffer); }

private:
    BYTE buffer[SECURITY_MAX_SID_SIZE] = {};
};

// A self-relative security descriptor built from SDDL; owns its own copy of the bytes.
class SecurityDescriptor {
public:
    // Throws KroError<SysError> "ConvertStringSecurityDescriptorToSecurityDescriptor failed".
    explicit SecurityDescriptor(const tstrings::TextBuilder& sddl);
    // Points to the first byte of the copy; valid while the object lives.
    operator PSECURITY_DESCRIPTOR() const { return const_cast<BYTE*>(bytes.data()); }
    std::size_t size() const { return bytes.size(); }

private:
    std::vector<BYTE> bytes;
};

// True when the process token lists the Administrators group (enabled or not). Throws KroError<SysError> on a
// failed system call.
bool isUserAdmin();
// True when the process runs with administrator rights: token elevation from Vista on, membership of the
// Administrators group before. Throws KroError<SysError> on a failed system call.
bool isProcessElevated();
// The same for a given Windows version.
bool isProcessElevated(SysInfo::OsVersion version);

}  // namespace security
