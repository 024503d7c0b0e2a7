#include "Security.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <string>

#include "LocalMemory.h"
#include "TestSupport.h"

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
