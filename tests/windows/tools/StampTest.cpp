// launcher-stamp run as release pipelines run it: a real process on real files, its output read back through
// the system's own resource, version and checksum readers, and the stamped launcher run.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "LauncherRun.h"
#include "StampSupport.h"
#include "TestSupport.h"
#include "VersionBlock.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace {

using testsupport::binPath;
using testsupport::readFileBytes;
using testsupport::ScratchDir;
using testsupport::writeFileBytes;
using namespace stamptest;

VS_FIXEDFILEINFO fixedInfo(const std::wstring& path) {
    std::vector<std::uint8_t> block(GetFileVersionInfoSizeW(path.c_str(), nullptr));
    VS_FIXEDFILEINFO info{};
    VS_FIXEDFILEINFO* found = nullptr;
    UINT length = 0;
    if (!block.empty() &&
        GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()) &&
        VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&found), &length)) {
        info = *found;
    }
    return info;
}

class StampTest : public ::testing::Test {
protected:
    ScratchDir dir{L"stamp"};
    const std::wstring stub = binPath(L"setup-stub.exe");
    const std::wstring installer = binPath(L"demo-installer.exe");
};

TEST_F(StampTest, StampedLauncherCarriesThePayloadIconAndVersionAndRunsThePayload) {
    const std::wstring icon = dir / L"release.ico";
    writeFileBytes(icon, iconFile({bitmapImage('b'), pngImage()}));
    const std::wstring out = dir / L"setup.exe";
    const stampcases::ToolRun run = runStamp(
        dir, {L"--payload", installer, L"--icon", icon, L"--file-version", L"2.3.4.5", L"--product-version",
              L"7.0.1.65535", L"--version-string", L"ProductName=Acm\u00e9 \u2713", L"--version-string",
              L"Comments=first release", L"--output", out, stub});
    ASSERT_EQ(0, run.exitCode) << run.output;
    const std::string image = readFileBytes(out);
    EXPECT_EQ(stampcases::UNSIGNED_PAYLOAD_WARNING + ("launcher-stamp: wrote '" + tstrings::toMultiByte(out) +
                                                      "' (" + std::to_string(image.size()) + " bytes)\n"),
              run.output);

    const ResourceReader resources(out);
    ASSERT_TRUE(resources.loaded());
    EXPECT_EQ(readFileBytes(installer), resources.bytes(100, RT_RCDATA));
    // The stub's twelve icons are gone; the group names the two new ones.
    const std::string group = resources.bytes(101, RT_GROUP_ICON);
    ASSERT_EQ(6u + 2 * 14, group.size());
    EXPECT_EQ(2, group[4]);
    EXPECT_EQ(bitmapImage('b'), resources.bytes(1, RT_ICON));
    EXPECT_EQ(pngImage(), resources.bytes(2, RT_ICON));
    EXPECT_FALSE(resources.has(3, RT_ICON));
    EXPECT_TRUE(resources.has(1, RT_MANIFEST));

    EXPECT_EQ(L"Acm\u00e9 \u2713", versionString(out, L"ProductName"));
    EXPECT_EQ(L"first release", versionString(out, L"Comments"));
    EXPECT_EQ(L"Acm\u00e9 \u2713 Setup", versionString(out, L"FileDescription"));
    EXPECT_EQ(L"2.3.4.5", versionString(out, L"FileVersion"));
    EXPECT_EQ(L"7.0.1.65535", versionString(out, L"ProductVersion"));
    EXPECT_EQ(L"Setup Launcher", versionString(out, L"InternalName"));
    const VS_FIXEDFILEINFO fixed = fixedInfo(out);
    EXPECT_EQ(0x00020003u, fixed.dwFileVersionMS);
    EXPECT_EQ(0x00040005u, fixed.dwFileVersionLS);
    EXPECT_EQ(0x00070000u, fixed.dwProductVersionMS);
    EXPECT_EQ(0x0001FFFFu, fixed.dwProductVersionLS);

    testsupport::expectChecksumHolds(out);

    const testsupport::LauncherRun launched = testsupport::runLauncher(out, {L"/exit=3010", L"a b"});
    EXPECT_EQ(3010u, launched.exitCode);
    ASSERT_TRUE(launched.report.present);
    EXPECT_EQ(L"a b", launched.report.all("arg").back());
    EXPECT_TRUE(launched.leftovers.empty());
}

TEST_F(StampTest, RestampingReplacesTheLargerPayloadAndKeepsEverythingElse) {
    const std::wstring first = dir / L"first.exe";
    const std::wstring second = dir / L"second.exe";
    const std::wstring larger = binPath(L"elevation-probe.exe");
    ASSERT_EQ(0, runStamp(dir, {L"--payload", larger, L"--version-string", L"CompanyName=Kro", L"--output",
                                first, stub})
                     .exitCode);
    ASSERT_EQ(0, runStamp(dir, {L"--payload", installer, L"--output", second, first}).exitCode);

    const ResourceReader resources(second);
    EXPECT_EQ(readFileBytes(installer), resources.bytes(100, RT_RCDATA));
    EXPECT_EQ(ResourceReader(stub).bytes(101, RT_GROUP_ICON), resources.bytes(101, RT_GROUP_ICON));
    EXPECT_EQ(L"Kro", versionString(second, L"CompanyName"));
    EXPECT_LT(readFileBytes(second).size(), readFileBytes(first).size());
    EXPECT_EQ(5u, testsupport::runLauncher(second, {L"/exit=5"}).exitCode);
}

TEST_F(StampTest, StampedResourcesAreReadOnlyEvenFromAWritableSection) {
    // A launcher linked without the read-only step has a writable resource section.
    std::string writable = readFileBytes(stub);
    const std::vector<IMAGE_SECTION_HEADER*> section = testsupport::sectionsNamed(writable, ".rsrc");
    ASSERT_EQ(1u, section.size());
    section[0]->Characteristics |= IMAGE_SCN_MEM_WRITE;
    const std::wstring base = dir / L"writable.exe";
    writeFileBytes(base, writable);
    const std::wstring out = dir / L"out.exe";
    ASSERT_EQ(0, runStamp(dir, {L"--payload", installer, L"--output", out, base}).exitCode);
    std::string stamped = readFileBytes(out);
    const std::vector<IMAGE_SECTION_HEADER*> stampedSection = testsupport::sectionsNamed(stamped, ".rsrc");
    ASSERT_EQ(1u, stampedSection.size());
    EXPECT_EQ(0u, stampedSection[0]->Characteristics & IMAGE_SCN_MEM_WRITE);
    EXPECT_EQ(section[0]->Characteristics & ~IMAGE_SCN_MEM_WRITE, stampedSection[0]->Characteristics);
}

TEST_F(StampTest, AnOutputHeldByAScannerIsReplacedOnceItLetsGo) {
    // The earlier release sits alone in its folder, where the scanner holds it for reading without delete
    // sharing, which makes Windows (and Wine) refuse to replace it.
    const std::wstring release = dir / L"release";
    ASSERT_TRUE(CreateDirectoryW(release.c_str(), nullptr));
    const std::wstring out = release + L"\\setup.exe";
    writeFileBytes(out, "an earlier release");
    const std::wstring stop = dir / L"stop";
    testsupport::RunningProcess scanner =
        testsupport::startProcess(binPath(L"scanner.exe"), {release, L"rw", L"500", stop});
    for (;;) {
        const WinAutoHandle<HANDLE> probe(CreateFileW(out.c_str(), DELETE,
                                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
        if (probe.get() == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION) {
            break;
        }
    }
    const stampcases::ToolRun run =
        runStamp(dir, {L"--payload", installer, L"--force", L"--output", out, stub});
    writeFileBytes(stop, "");
    EXPECT_EQ(0, run.exitCode) << run.output;
    EXPECT_EQ(readFileBytes(installer), ResourceReader(out).bytes(100, RT_RCDATA));
    EXPECT_EQ(1u, scanner.wait()) << "the scanner held the earlier release";
    EXPECT_EQ((std::vector<std::string>{"setup.exe"}), entriesOf(release));
}

TEST(VersionBlock, RoundTripsTheLaunchersBlockUnchanged) {
    const std::string original = ResourceReader(binPath(L"setup-stub.exe")).bytes(1, RT_VERSION);
    ASSERT_FALSE(original.empty());
    const stamp::VersionBlock block(std::vector<std::uint8_t>(original.begin(), original.end()));
    const std::vector<std::uint8_t> written = block.serialize();
    EXPECT_EQ(original, std::string(written.begin(), written.end()));
    EXPECT_EQ(u"Setup Launcher", block.string(u"InternalName").value_or(u"<missing>"));
}

TEST(VersionBlock, VersionNumbersAreOneToFourDecimalsUpTo65535) {
    EXPECT_EQ((stamp::VersionQuad{1, 0, 65535, 0}), stamp::parseVersionQuad("1.0.65535.0"));
    EXPECT_EQ((stamp::VersionQuad{2, 0, 0, 0}), stamp::parseVersionQuad("2"));
    EXPECT_EQ((stamp::VersionQuad{2, 7, 3, 0}), stamp::parseVersionQuad("2.7.3"));
    EXPECT_EQ(u"1.0.65535.0", stamp::toText({1, 0, 65535, 0}));
    for (const char* wrong : {"", "2.", "1.2.3.4.5", "1.2.3.65536", "1..3.4", "1.2.3.4 ", "a.b.c.d",
                              "-1.2.3.4", "1.2.3.000001"}) {
        EXPECT_FALSE(stamp::parseVersionQuad(wrong).has_value()) << wrong;
    }
}

}  // namespace
