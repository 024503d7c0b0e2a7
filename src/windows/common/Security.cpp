#include "Security.h"

#include <aclapi.h>
#include <ntsecapi.h>
#include <sddl.h>

#include <cstring>
#include <exception>

#include "LocalMemory.h"
#include "WinAutoHandle.h"
#include "WinErrorHandling.h"

namespace security {

namespace {

WinAutoHandle<HANDLE> processToken(DWORD access = TOKEN_QUERY) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), access, &token)) {
        KRO_THROW_SYSERROR(OpenProcessToken, "OpenProcessToken failed");
    }
    return WinAutoHandle<HANDLE>(token);
}

bool isAdministratorsOrSystem(PSID sid) {
    return sid != nullptr && (EqualSid(sid, Sid(tstrings::TextBuilder() << "BA")) ||
                              EqualSid(sid, Sid(tstrings::TextBuilder() << "SY")));
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

bool isProtectedAs(PSECURITY_DESCRIPTOR found, PSECURITY_DESCRIPTOR model) {
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorOwner(found, &owner, &defaulted) || !isAdministratorsOrSystem(owner) ||
        !GetSecurityDescriptorControl(found, &control, &revision) || (control & SE_DACL_PROTECTED) == 0) {
        return false;
    }
    const auto daclOf = [](PSECURITY_DESCRIPTOR descriptor) {
        BOOL present = FALSE;
        BOOL daclDefaulted = FALSE;
        PACL dacl = nullptr;
        return GetSecurityDescriptorDacl(descriptor, &present, &dacl, &daclDefaulted) && present ? dacl
                                                                                                 : nullptr;
    };
    const PACL foundList = daclOf(found);
    const PACL modelList = daclOf(model);
    if (foundList == nullptr || modelList == nullptr || foundList->AceCount != modelList->AceCount) {
        return false;
    }
    for (DWORD i = 0; i < modelList->AceCount; ++i) {
        void* foundAce = nullptr;
        void* modelAce = nullptr;
        if (!GetAce(foundList, i, &foundAce) || !GetAce(modelList, i, &modelAce)) {
            return false;
        }
        const WORD size = static_cast<const ACE_HEADER*>(modelAce)->AceSize;
        if (static_cast<const ACE_HEADER*>(foundAce)->AceSize != size ||
            std::memcmp(foundAce, modelAce, size) != 0) {
            return false;
        }
    }
    return true;
}

bool isHandleProtectedAs(HANDLE handle, PSECURITY_DESCRIPTOR model) {
    PSECURITY_DESCRIPTOR found = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, &found) != ERROR_SUCCESS) {
        return false;
    }
    const LocalMemory<void> owner(found);
    return isProtectedAs(found, model);
}

bool isOwnedByAdministrators(HANDLE object) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const LocalMemory<void> kept(descriptor);
    return isAdministratorsOrSystem(owner);
}

bool makeAdministratorsDefaultOwner(SetTokenInformationFunction setTokenInformation) {
    const WinAutoHandle<HANDLE> token = processToken(TOKEN_QUERY | TOKEN_ADJUST_DEFAULT);
    const Sid administrators(tstrings::TextBuilder() << "BA");
    TOKEN_OWNER owner{administrators};
    if (setTokenInformation(token.get(), TokenOwner, &owner, sizeof(owner))) {
        return true;
    }
    const DWORD errorCode = GetLastError();
    if (errorCode == ERROR_INVALID_OWNER) {
        return false;
    }
    if (errorCode == ERROR_INVALID_FUNCTION) {
        return true;
    }
    KRO_THROW_SYSERROR_CODE(SetTokenInformation, errorCode, "SetTokenInformation(TokenOwner) failed");
}

bool keepsOwners(SetTokenInformationFunction setTokenInformation) {
    try {
        const WinAutoHandle<HANDLE> token = processToken(TOKEN_QUERY | TOKEN_ADJUST_DEFAULT);
        std::vector<BYTE> current(SECURITY_MAX_SID_SIZE + sizeof(TOKEN_OWNER));
        DWORD size = 0;
        if (!GetTokenInformation(token.get(), TokenOwner, current.data(), static_cast<DWORD>(current.size()),
                                 &size)) {
            return true;
        }
        // Setting the default owner it has changes nothing; only a system without owners refuses it so.
        return setTokenInformation(token.get(), TokenOwner, current.data(), size) ||
               GetLastError() != ERROR_INVALID_FUNCTION;
    } catch (const std::exception&) {
        return true;
    }
}

std::uint32_t randomNumber() {
    std::uint32_t number = 0;
    if (!RtlGenRandom(&number, sizeof(number))) {
        KRO_THROW("RtlGenRandom failed");
    }
    return number;
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
    const WinAutoHandle<HANDLE> token = processToken();
    TOKEN_ELEVATION elevation{};
    DWORD returned = 0;
    if (!GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned)) {
        KRO_THROW_SYSERROR(GetTokenInformation, "GetTokenInformation failed");
    }
    return elevation.TokenIsElevated != 0;
}

}  // namespace security
