// launcher-stamp on inputs a bad day in a release pipeline makes: broken icons, launchers with broken
// headers, sections, resources and version blocks, truncated files, odd payloads. Whatever the input, the
// tool ends (no hang, no crash) with 0, 1 or 2, leaves nothing beside OUT when it fails, and writes an image
// the system reads when it succeeds.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "StampSupport.h"
#include "TestSupport.h"
#include "tstrings.h"

namespace {

using namespace stamptest;
using stampcases::launcherWithVersion;

class StampFuzz : public ::testing::Test {
protected:
    // Runs the tool on inputs written to the scratch folder: exit 0, 1 or 2 and nothing else, nothing left
    // beside the inputs on failure, and on success an output with a valid checksum that the system loads,
    // carrying the payload and the launcher's version block. Returns the run.
    stampcases::ToolRun expectHandled(const std::string& launcher, const std::string& icon,
                                      const std::string& payload,
                                      const std::vector<std::wstring>& extra = {}) {
        writeFileBytes(launcherPath, launcher);
        writeFileBytes(payloadPath, payload);
        std::vector<std::wstring> arguments = {L"--payload", payloadPath, L"--output", outPath};
        if (!icon.empty()) {
            writeFileBytes(iconPath, icon);
            arguments.insert(arguments.end(), {L"--icon", iconPath});
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(launcherPath);
        const std::vector<std::string> inputs = entriesOf(dir.path());

        const stampcases::ToolRun run = runStamp(dir, arguments);
        EXPECT_TRUE(run.finished) << "hung";
        EXPECT_TRUE(run.exitCode >= 0 && run.exitCode <= 2)
            << "exit code 0x" << std::hex << run.exitCode << ": " << run.output;
        if (run.exitCode == 0) {
            testsupport::expectChecksumHolds(outPath);
            const std::string carried = ResourceReader(outPath).bytes(100, RT_RCDATA);
            EXPECT_TRUE(carried == payload) << "the output carries " << carried.size() << " bytes of the "
                                            << payload.size() << "-byte payload";
            // The version block is copied as it is: where the system reads it in the input, it reads it in
            // the output (which, rewritten, may also read where the input's layout did not let it).
            if (versionString(launcherPath, L"InternalName") == L"Setup Launcher") {
                EXPECT_EQ(L"Setup Launcher", versionString(outPath, L"InternalName"));
            }
            DeleteFileW(outPath.c_str());
        }
        EXPECT_EQ(inputs, entriesOf(dir.path())) << "left beside OUT";
        DeleteFileW(iconPath.c_str());
        return run;
    }

    ScratchDir dir{L"stamp-fuzz"};
    const std::wstring stub = binPath(L"setup-stub.exe");
    const std::wstring launcherPath = dir / L"launcher.exe";
    const std::wstring payloadPath = dir / L"payload.exe";
    const std::wstring iconPath = dir / L"release.ico";
    const std::wstring outPath = dir / L"out.exe";
};

TEST_F(StampFuzz, MutatedInputsNeverCrashHangOrLeaveAnything) {
    const char* const seedText = std::getenv("KRO_STAMP_FUZZ_SEED");
    const unsigned seed =
        seedText != nullptr ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 1;
    std::mt19937 random(seed);
    const auto below = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    const DWORD notable[] = {0,      1,      2,       0x40,       0x200,      0x1000,
                             0x7FFF, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    const auto value = [&] {
        return below(2) == 0 ? notable[below(std::size(notable))] : static_cast<DWORD>(random());
    };
    const auto putDword = [](std::string& bytes, std::size_t at, DWORD dword) {
        if (at + sizeof dword <= bytes.size()) {
            std::memcpy(&bytes[at], &dword, sizeof dword);
        }
    };

    const std::string launcher = readFileBytes(stub);
    const std::string payload = readFileBytes(binPath(L"demo-installer.exe"));
    const std::string icon = iconFile({bitmapImage('b'), pngImage(), bitmapImage('c')});
    std::string headers = launcher;
    const std::size_t ntOffset = reinterpret_cast<char*>(testsupport::ntHeadersOf(headers)) - &headers[0];
    const std::size_t sectionTable = ntOffset + sizeof(IMAGE_NT_HEADERS64);
    const IMAGE_SECTION_HEADER resources = *testsupport::sectionsNamed(headers, ".rsrc").at(0);
    const std::string version = ResourceReader(stub).bytes(1, RT_VERSION);
    const std::size_t versionAt = launcher.find(version, resources.PointerToRawData);
    ASSERT_NE(std::string::npos, versionAt);

    // Each kind of mutant: a launcher, an icon and a payload made from the good ones.
    struct Inputs {
        std::string launcher, icon, payload;
    };
    const std::map<std::string, std::function<Inputs()>> kinds = {
        {"icon directory",
         [&] {
             Inputs in{launcher, icon, payload};
             for (std::size_t flips = 1 + below(4); flips-- != 0;) {
                 putDword(in.icon, below(6 + 16 * 3), value());
             }
             return in;
         }},
        {"icon images shared",
         [&] {
             return Inputs{launcher, multipliedIcon(static_cast<WORD>(1 + below(3000))), payload};
         }},
        {"PE headers",
         [&] {
             Inputs in{launcher, "", payload};
             for (std::size_t writes = 1 + below(3); writes-- != 0;) {
                 putDword(in.launcher,
                          below(2) == 0 ? below(0x40) : ntOffset + below(sectionTable - ntOffset), value());
             }
             return in;
         }},
        {"section table",
         [&] {
             Inputs in{launcher, "", payload};
             const std::size_t count = testsupport::ntHeadersOf(in.launcher)->FileHeader.NumberOfSections;
             putDword(in.launcher, sectionTable + below(count * sizeof(IMAGE_SECTION_HEADER) / 4) * 4,
                      value());
             return in;
         }},
        {"resource tree",
         [&] {
             Inputs in{launcher, "", payload};
             for (std::size_t writes = 1 + below(3); writes-- != 0;) {
                 const DWORD target =
                     below(2) == 0 ? value() : static_cast<DWORD>(below(0x400)) | (below(2) << 31);
                 putDword(in.launcher, resources.PointerToRawData + below(0x400 / 4) * 4, target);
             }
             return in;
         }},
        {"version block",
         [&] {
             Inputs in{launcher, "", payload};
             const WORD word = static_cast<WORD>(value());
             std::memcpy(&in.launcher[versionAt + below(version.size() / 2) * 2], &word, sizeof word);
             return in;
         }},
        {"truncated",
         [&] {
             return Inputs{launcher.substr(0, below(launcher.size())), "", payload};
         }},
        {"odd payload",
         [&] {
             const std::string odd[] = {"", "M", "MZ", "MZ" + std::string(below(5000), '\xFF')};
             return Inputs{launcher, below(2) == 0 ? icon : "", odd[below(std::size(odd))]};
         }},
    };
    const std::size_t perKind = 50;
    std::cout << "seed " << seed << " (set KRO_STAMP_FUZZ_SEED to replay), " << perKind
              << " mutants of each of " << kinds.size() << " kinds" << std::endl;
    std::map<int, std::size_t> exits;
    for (const auto& [kind, make] : kinds) {
        for (std::size_t index = 0; index < perKind; ++index) {
            SCOPED_TRACE("seed " + std::to_string(seed) + ", " + kind + " #" + std::to_string(index));
            const Inputs in = make();
            ++exits[expectHandled(in.launcher, in.icon, in.payload).exitCode];
        }
    }
    for (const auto& [code, count] : exits) {
        std::cout << "exit " << code << ": " << count << " mutants" << std::endl;
    }
    // One in deep nesting and one in a version block that passes for a launcher's are always among them.
    const stampcases::ToolRun deep =
        expectHandled(launcherWithVersion(nestedVersionBlock(1 + below(8191)), dir.path()), "", payload);
    EXPECT_EQ(2, deep.exitCode) << deep.output;
    EXPECT_EQ(0, expectHandled(launcherWithVersion(version, dir.path()), "", payload).exitCode);
}

}  // namespace
