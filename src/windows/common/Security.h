// Process-token security: is this process elevated, and the SID and descriptor objects handed to Windows.
#pragma once

#include <windows.h>

#include <cstdint>
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

// True when the descriptor found on a folder is owned by Administrators or SYSTEM and its access list is
// protected and, entry for entry, the one of model: only an administrator can have made such a folder.
bool isProtectedAs(PSECURITY_DESCRIPTOR found, PSECURITY_DESCRIPTOR model);
// The same for what the handle (opened with READ_CONTROL) names; false when its descriptor can't be read.
bool isHandleProtectedAs(HANDLE handle, PSECURITY_DESCRIPTOR model);

// True when the kernel object's owner is Administrators or SYSTEM, which no unelevated process can make it.
bool isOwnedByAdministrators(HANDLE object);

using SetTokenInformationFunction = BOOL(WINAPI*)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD);
// Makes Administrators the default owner of what this process creates from now on, and of what its children
// create (they get a copy of its token): whatever the policy "default owner for objects created by
// administrators" says, the unelevated user then owns nothing the installer writes. False when the token may
// not assign that owner: elevated, but not an administrator's (a member of Backup Operators, say). A system
// that doesn't implement owner assignment keeps no owners on files either, and counts as done. Throws
// KroError<SysError> "SetTokenInformation(TokenOwner) failed" for any other failure.
bool makeAdministratorsDefaultOwner(SetTokenInformationFunction setTokenInformation = &SetTokenInformation);

// True when the system keeps the owners of what is created, as Windows does: the token's default owner can be
// set (to the one it has, which changes nothing). A system that doesn't implement owner assignment (Wine)
// names the current user as the owner of everything, so an owner tells nothing there. True when unsure; never
// throws.
bool keepsOwners(SetTokenInformationFunction setTokenInformation = &SetTokenInformation);

// A number from the system's random source, which no other process can predict. Throws
// KroError<std::runtime_error> "RtlGenRandom failed".
std::uint32_t randomNumber();

// True when the process token lists the Administrators group (enabled or not). Throws KroError<SysError> on a
// failed system call.
bool isUserAdmin();
// True when the process runs with administrator rights: token elevation from Vista on, membership of the
// Administrators group before. Throws KroError<SysError> on a failed system call.
bool isProcessElevated();
// The same for a given Windows version.
bool isProcessElevated(SysInfo::OsVersion version);

}  // namespace security
