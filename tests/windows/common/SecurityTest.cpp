#include "Security.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "FileHandles.h"
#include "LocalMemory.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"

namespace {

std::wstring toSddl(PSECURITY_DESCRIPTOR descriptor) {
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                              DACL_SECURITY_INFORMATION, &text, nullptr)) {
        return L"<conversion failed>";
    }
    const LocalMemory<wchar_t> owner(text);
    return text;
}

}  // namespace

TEST(Security, ThisProcessIsElevatedUnderWine) {
    EXPECT_TRUE(security::isProcessElevated());
    EXPECT_TRUE(security::isUserAdmin());
}

TEST(Security, ALinkedTokenProcessIsNotElevatedButListsAdministrators) {
    // The older systems' rule decides by the listed group alone, so it calls both processes elevated; since
    // Vista only the elevated one is.
    testsupport::ProcessOptions options;
    options.notElevated = true;
    const auto notElevated =
        testsupport::runProcess(testsupport::binPath(L"elevation-probe.exe"), {}, options);
    EXPECT_EQ(2u | 4u, notElevated.exitCode) << "not elevated; the group is still listed (deny-only counts)";
    const auto elevated = testsupport::runProcess(testsupport::binPath(L"elevation-probe.exe"), {});
    EXPECT_EQ(1u | 2u | 4u, elevated.exitCode);
}

TEST(Security, ProtectedDescriptorRoundTrips) {
    const security::SecurityDescriptor descriptor(tstrings::TextBuilder() << "D:P(A;;FA;;;BA)");
    EXPECT_EQ(L"D:P(A;;FA;;;BA)", toSddl(descriptor));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    EXPECT_NE(0, control & SE_DACL_PROTECTED);
    EXPECT_NE(0, control & SE_SELF_RELATIVE);
    EXPECT_EQ(GetSecurityDescriptorLength(descriptor), descriptor.size());
}

TEST(Security, SyntaxErrorsThrowWithTheSystemsCode) {
    try {
        security::SecurityDescriptor(tstrings::TextBuilder() << "D:(A;;FA;;;BA");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        const std::string what = e.what();
        EXPECT_NE(std::string::npos,
                  what.find(") at security::SecurityDescriptor::SecurityDescriptor(): "
                            "ConvertStringSecurityDescriptorToSecurityDescriptor failed. System error ["))
            << what;
    }
    try {
        security::Sid(tstrings::TextBuilder() << "S-1-bogus");
        FAIL() << "no exception";
    } catch (const std::exception& e) {
        EXPECT_NE(std::string::npos,
                  std::string(e.what()).find("security::Sid::Sid(): ConvertStringSidToSid failed"))
            << e.what();
    }
}

TEST(Security, SidsFromAliasesAndStringForms) {
    const security::Sid alias(tstrings::TextBuilder() << "BA");
    const security::Sid full(tstrings::TextBuilder() << "S-1-5-32-544");
    EXPECT_TRUE(EqualSid(alias, full));
    EXPECT_FALSE(EqualSid(alias, security::Sid(tstrings::TextBuilder() << "S-1-5-32-545")));
}

TEST(Security, OnlyAnAdministratorsFolderWithOurProtectionCountsAsOurs) {
    const security::SecurityDescriptor model(tstrings::TextBuilder()
                                             << "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
    const std::pair<const wchar_t*, bool> rows[] = {
        {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
        {L"O:SYD:PAI(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", true},
        {L"O:S-1-5-21-1-2-3-1000D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false},  // the user made it
        {L"O:BAD:(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)", false},                    // TEMP's entries merged in
        {L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;BU)", false},
        {L"O:BAD:P(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)", false},
        {L"O:BAD:P(A;OICI;FR;;;BA)(A;OICI;FA;;;SY)", false},
        {L"O:BA", false},  // no access list at all, as on FAT
    };
    for (const auto& [sddl, ours] : rows) {
        const security::SecurityDescriptor found(tstrings::TextBuilder() << sddl);
        EXPECT_EQ(ours, security::isProtectedAs(found, model)) << tstrings::toMultiByte(sddl);
    }
    const testsupport::ScratchDir scratch;  // Wine answers every folder with the user as its owner
    EXPECT_FALSE(security::isHandleProtectedAs(FileUtils::HeldFolder::open(scratch.path()).handle(), model));
}

namespace {

std::vector<std::wstring> ownersAsked;
DWORD ownerAnswer = ERROR_SUCCESS;
BOOL WINAPI recordingSetToken(HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD) {
    wchar_t* text = nullptr;
    ConvertSidToStringSidW(static_cast<TOKEN_OWNER*>(information)->Owner, &text);
    const LocalMemory<wchar_t> owner(text);
    ownersAsked.push_back(kind == TokenOwner ? text : L"another class");
    SetLastError(ownerAnswer);
    return ownerAnswer == ERROR_SUCCESS;
}

}  // namespace

TEST(Security, AdministratorsBecomeTheDefaultOwnerOrTheRunIsRefused) {
    // Elevated but not an administrator's token: 1307. No owner assignment at all, as under Wine: no owners.
    const std::pair<DWORD, const char*> rows[] = {{ERROR_SUCCESS, "owner"},
                                                  {ERROR_INVALID_OWNER, "refused"},
                                                  {ERROR_INVALID_FUNCTION, "owner"},
                                                  {8, "thrown"}};
    for (const auto& [answer, outcome] : rows) {
        ownersAsked.clear();
        ownerAnswer = answer;
        std::string seen = "thrown";
        try {
            seen = security::makeAdministratorsDefaultOwner(&recordingSetToken) ? "owner" : "refused";
        } catch (const std::exception& e) {
            EXPECT_NE(std::string::npos,
                      std::string(e.what()).find("SetTokenInformation(TokenOwner) failed. System error [8]"));
        }
        EXPECT_EQ(outcome, seen) << answer;
        EXPECT_EQ(std::vector<std::wstring>{L"S-1-5-32-544"}, ownersAsked)
            << "Administrators, as the token's owner";
    }
    EXPECT_TRUE(security::makeAdministratorsDefaultOwner());
}

TEST(Security, OwnersCountOnlyWhereTheSystemKeepsThem) {
    // The token's own default owner set again: only a system without owner assignment refuses it so.
    const std::pair<DWORD, bool> rows[] = {{ERROR_SUCCESS, true}, {ERROR_INVALID_FUNCTION, false}, {5, true}};
    for (const auto& [answer, kept] : rows) {
        ownerAnswer = answer;
        EXPECT_EQ(kept, security::keepsOwners(&recordingSetToken)) << answer;
    }
    EXPECT_FALSE(security::keepsOwners()) << "Wine assigns no owners, and names the user as every file's";
}

TEST(Security, OnlyAnObjectAnAdministratorMadeIsTrusted) {
    const security::SecurityDescriptor byAdministrators(tstrings::TextBuilder() << "O:BAD:(A;;GA;;;BA)");
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), byAdministrators, FALSE};
    EXPECT_TRUE(security::isOwnedByAdministrators(
        WinAutoHandle<HANDLE>(CreateMutexW(&attributes, FALSE, nullptr)).get()));
    EXPECT_FALSE(security::isOwnedByAdministrators(
        WinAutoHandle<HANDLE>(CreateMutexW(nullptr, FALSE, nullptr)).get()));
    EXPECT_NE(security::randomNumber(), security::randomNumber());
}
