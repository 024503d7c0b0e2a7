// The installer written from the launcher's held file and from its mapped image: the resource's bytes, both
// ways. This test program carries a payload of its own, of an odd size and several copy buffers long.
#include "PayloadSource.h"

#include <gtest/gtest.h>

#include <string>

#include "Resources.h"
#include "SecureDirectory.h"
#include "SysInfo.h"
#include "TestSupport.h"

TEST(PayloadSource, TheInstallerHoldsTheResourcesBytesReadFromTheHeldFileOrTheMapping) {
    DWORD size = 0;
    const auto* resource = static_cast<const char*>(
        Resource(PAYLOAD_RESOURCE_ID, 10, SysInfo::getCurrentModuleHandle()).getPtr(size));
    ASSERT_GT(size, 3 * FileUtils::copyBufferBytes);
    ASSERT_EQ(1u, size % 2);
    const std::wstring ownPath = SysInfo::getProcessModulePath();
    const WinAutoHandle<HANDLE> held(
        CreateFileW(ownPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_NE(INVALID_HANDLE_VALUE, held.get());
    const testsupport::ScratchDir scratch;
    const FileUtils::HeldFolder folder = FileUtils::HeldFolder::open(scratch.path());
    for (const HANDLE image : {held.get(), HANDLE{nullptr}}) {
        const FileUtils::ByteSource source = launcher::payloadBytes(image, ownPath);
        EXPECT_EQ(image, source.file) << "read from the held file wherever there is one";
        const launcher::SecureDirectory directory = createSecureDirectory(folder);
        directory.writeFile(L"setup.exe", source);
        EXPECT_TRUE(std::string(resource, size) ==
                    testsupport::readFileBytes(directory.path() + L"\\setup.exe"))
            << (image == nullptr ? "from the mapping" : "from the held file");
    }
}
