#include "Security.h"

#include <sddl.h>

#include "LocalMemory.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"

namespace security {

namespace {

WinAutoHandle<HANDLE> processToken() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        KRO_THROW_SYSERROR(OpenProcessToken, "OpenProcessToken failed");
    }
    return WinAutoHandle<HANDLE>(token);
}

}  // namespace

Sid::Sid(const tstrings::TextBuilder& text) {
    PSID converted = nullptr;
    if (!ConvertStringSidToSidW(text.str().c_str(), &converted)) {
        KRO_THROW_SYSERROR(ConvertStringSidToSidW, "ConvertStringSidToSid failed");
    }
    const LocalMemory<void> owner(converted);
    if (!CopySid(sizeof(buffer), buffer, converted)) {
        KRO_THROW_SYSERROR(CopySid, "CopySid failed");
    }
}

SecurityDescriptor::SecurityDescriptor(const tstrings::TextBuilder& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.str().c_str(), SDDL_REVISION_1,
                                                              &descriptor, &size)) {
        KRO_THROW_SYSERROR(ConvertStringSecurityDescriptorToSecurityDescriptorW,
                           "ConvertStringSecurityDescriptorToSecurityDescriptor failed");
    }
    const LocalMemory<void> owner(descriptor);
    const BYTE* first = static_cast<const BYTE*>(descriptor);
    bytes.assign(first, first + size);
}

bool isUserAdmin() {
    const WinAutoHandle<HANDLE> token = processToken();
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> buffer(size, 0);
    if (!GetTokenInformation(token.get(), TokenGroups, buffer.empty() ? nullptr : buffer.data(), size,
                             &size)) {
        KRO_THROW_SYSERROR(GetTokenInformation, "GetTokenInformation(TokenGroup) failed");
    }
    const Sid administrators(tstrings::TextBuilder() << "BA");
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, administrators)) {
            return true;
        }
    }
    return false;
}

bool isProcessElevated() {
    return isProcessElevated(SysInfo::getOsVersion());
}

bool isProcessElevated(SysInfo::OsVersion version) {
    if (version <= SysInfo::WinXP) {
        return isUserAdmin();
    }
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        KRO_THROW_SYSERROR(OpenProcessToken, "OpenProcessToken failed");
    }
    const WinAutoHandle<HANDLE> token(rawToken);
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned)) {
        KRO_THROW_SYSERROR(GetTokenInformation, "GetTokenInformation failed");
    }
    return elevation.TokenIsElevated != 0;
}

}  // namespace security
