// launcher-stamp's cases that hold on every system, run by the Windows build's tests (the Windows tool, under
// Wine) and by the host build's (the native tool): bad input and its messages, OUT's rules, a kill while
// writing, an input that changes while it is read, inspect and extract.
#include <gtest/gtest.h>

#include <stdexcept>
#include <tuple>

#include "OutputFile.h"
#include "StampCases.h"

namespace {

using namespace stampcases;

class StampCases : public ::testing::Test {
protected:
    ScratchFolder dir{"stamp-cases"};
    const std::string stub = argument(windowsProgram("setup-stub.exe"));
    const std::string installer = argument(windowsProgram("demo-installer.exe"));
    const std::string out = argument(dir / "out.exe");
};

TEST_F(StampCases, BadInputEndsWithTwoAMessageAndTheUsageAndLeavesNoOutput) {
    const auto input = [&](const char* name, const std::string& bytes) {
        writeBytes(dir / name, bytes);
        return argument(dir / name);
    };
    const auto stubWith = [&](auto change) {
        std::string bytes = readBytes(stub);
        change(ntHeadersIn(bytes)->optionalHeader);
        return bytes;
    };
    const std::string text = input("notes.txt", "plain text, no program");
    const std::string brokenIcon = input("broken.ico", iconFile({std::string(64, 'x')}));
    const std::string multiplied = input("multiplied.ico", multipliedIcon(1000));
    // A launcher of someone else's: the stub with another InternalName of the same length.
    std::string foreignBytes = readBytes(stub);
    const std::string mark("S\0e\0t\0u\0p\0 \0L\0a\0u\0n\0c\0h\0e\0r\0", 28);
    const std::size_t at = foreignBytes.find(mark, foreignBytes.find(std::string("I\0n\0t\0e\0r\0n\0", 12)));
    ASSERT_NE(std::string::npos, at);
    const std::string foreign = input("foreign.exe", foreignBytes.replace(at, 2, std::string("O\0", 2)));
    // Layouts the tool can't rewrite: data appended behind the last section, a section behind the resources
    // that is not the base relocations (their directory entry cleared), a file alignment out of range, a
    // version block nested deeper than one goes.
    const std::string appended = input("appended.exe", readBytes(stub) + "appended data");
    const std::string unrelocated = input("unrelocated.exe", stubWith([](auto& optional) {
                                              optional.dataDirectory[stamp::image::DIRECTORY_BASERELOC] = {};
                                          }));
    const std::string aligned =
        input("aligned.exe", stubWith([](auto& optional) { optional.fileAlignment = 0x80000000; }));
    const std::string nested = input("nested.exe", launcherWithVersion(nestedVersionBlock(8191), dir.path()));
    // The stub with a release that is no version.
    std::string unversionedBytes = readBytes(stub);
    const std::size_t release =
        unversionedBytes.find(KRO_RELEASE, resourceSectionIn(unversionedBytes)->pointerToRawData);
    ASSERT_NE(std::string::npos, release);
    const std::string unversioned = input("unversioned.exe", unversionedBytes.replace(release, 1, "x"));
    const std::string folder = argument(dir / "folder");
    fs::create_directory(folder);
    const std::string missing = argument(dir / "missing.exe");
    const std::string unwritable = argument(dir / "missing" / "out.exe");  // a failed write: 1, no usage
    const struct {
        std::vector<std::string> arguments;
        std::string message;
        std::string usage = "usage: launcher-stamp --payload";
    } cases[] = {
        {{"--payload", text, "--output", out, stub},
         "error: PAYLOAD '" + text + "' is not a Windows executable (it does not start with \"MZ\")"},
        {{"--payload", missing, "--output", out, stub}, "error: cannot read PAYLOAD '" + missing + "': "},
        {{"--payload", installer, "--output", out, missing},
         "error: cannot read LAUNCHER '" + missing + "': "},
        {{"--payload", installer, "--icon", text, "--output", out, stub},
         "error: ICON '" + text + "' is not an icon file: its header is wrong"},
        {{"--payload", installer, "--icon", brokenIcon, "--output", out, stub},
         "is not an icon file: an image is neither PNG nor a bitmap"},
        {{"--payload", installer, "--icon", multiplied, "--output", out, stub},
         "is not an icon file: its images overlap each other or its directory"},
        {{"--payload", installer, "--file-version=1.2.3.4.5", "--output", out, stub},
         "error: --file-version needs one to four numbers up to 65535 (a[.b[.c[.d]]]), not '1.2.3.4.5'"},
        {{"--payload", installer, "--product-version", "1.65536", "--output", out, stub},
         "error: --product-version needs one to four numbers up to 65535 (a[.b[.c[.d]]]), not '1.65536'"},
        {{"--payload", installer, "-o", out, stub}, "error: unknown option '-o'"},
        {{"--payload", installer, "--force=yes", "--output", out, stub}, "error: --force takes no value"},
        {{"--payload=", "--output", out, stub}, "error: --payload needs a value"},
        {{"--payload", installer, "--output", unwritable, stub},
         "error: cannot write OUT '" + unwritable + "'",
         ""},
        {{"--payload", installer, "--version-string", "InternalName=Mine", "--output", out, stub},
         "error: InternalName stays \"Setup Launcher\": it marks the launcher"},
        {{"--payload", installer, "--version-string", "=x", "--output", out, stub},
         "error: --version-string needs Key=Value, not '=x'"},
        {{"--payload", installer, "--output", out, foreign},
         "error: LAUNCHER '" + foreign +
             "' is not one of our launchers: its version block's InternalName is not \"Setup Launcher\""},
        {{"--payload", installer, "--output", out, installer},
         "is not one of our launchers: it has no resource"},
        {{"--payload", installer, "--output", out, text}, "is not one of our launchers: it is not a Windows"},
        {{"--payload", installer, "--output", out, appended},
         "is not one of our launchers: data is appended behind its last section"},
        {{"--payload", installer, "--output", out, unrelocated},
         "is not one of our launchers: a section other than the base relocations follows its resources"},
        {{"--payload", installer, "--output", out, aligned},
         "is not one of our launchers: its alignments are not"},
        {{"inspect", unversioned},
         "is not one of our launchers: its release is not a version",
         "usage: launcher-stamp inspect"},
        {{"--payload", installer, "--output", out, nested},
         "error: LAUNCHER is not one of our launchers: its version block is nested deeper than a version "
         "block goes"},
        {{"--payload", installer, "--output", folder, stub}, "error: OUT '" + folder + "' is a folder"},
        {{"--payload", installer, stub}, "error: --payload, --output and LAUNCHER are required"},
        {{"--payload", installer, "--output", out, stub, stub}, "error: unexpected argument '" + stub + "'"},
        {{"inspect", text},
         "is not one of our launchers: it is not a Windows",
         "usage: launcher-stamp inspect"},
        {{"inspect"}, "error: LAUNCHER is required", "usage: launcher-stamp inspect"},
        {{"inspect", "--force", stub}, "error: unknown option '--force'", "usage: launcher-stamp inspect"},
        {{"extract", "--output", out, stub},
         "error: LAUNCHER '" + stub + "' carries no payload",
         "usage: launcher-stamp extract"},
        {{"extract", "--output", folder, stub},
         "error: OUT '" + folder + "' is a folder",
         "usage: launcher-stamp extract"},
        {{"extract", stub}, "error: --output and LAUNCHER are required", "usage: launcher-stamp extract"},
        {{"extract", "--output=" + unwritable, stub}, "error: cannot write OUT '" + unwritable + "'", ""},
    };
    const std::vector<std::string> inputs = entriesOf(dir.path());
    for (const auto& each : cases) {
        SCOPED_TRACE(each.message);
        const ToolRun run = runTool(each.arguments);
        EXPECT_EQ(each.usage.empty() ? 1 : 2, run.exitCode) << run.output;
        EXPECT_EQ(0u, run.output.rfind("launcher-stamp: error: ", 0)) << run.output;
        EXPECT_NE(std::string::npos, run.output.find(each.message)) << run.output;
        EXPECT_NE(std::string::npos, run.output.find("\n" + each.usage)) << run.output;
        EXPECT_EQ(each.usage.empty(),
                  run.output.find("--help' describes every option\n") == std::string::npos)
            << run.output;
        EXPECT_EQ(inputs, entriesOf(dir.path()));
    }
}

TEST_F(StampCases, EachCommandsHelpDescribesItsOptionsAndTheExitCodes) {
    // A line each help holds, and what it doesn't: another command's option, or an error. Stamping's help
    // covers every command; --help wins over the other arguments, and writes nothing.
    const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
        {{"--help"}, "\n  --json  prints the same as one JSON object\n", "error"},
        {{"inspect", "--help"}, "\nusage: launcher-stamp inspect [--json] LAUNCHER\n", "--output"},
        {{"extract", "-h", "--unknown"}, "\n  --force        replaces an existing FILE\n", "--json"},
        {{"--payload", installer, "--output", out, "--help", stub},
         "\n  --no-unsigned-warning      no warning of a payload without an Authenticode signature\n",
         "error"}};
    for (const auto& [arguments, line, absent] : cases) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(0, run.exitCode) << run.output;
        EXPECT_EQ(0u, run.output.rfind("usage: launcher-stamp ", 0)) << run.output;
        EXPECT_NE(std::string::npos, ("\n" + run.output).find(line)) << run.output;
        EXPECT_EQ(std::string::npos, run.output.find(absent)) << run.output;
        EXPECT_NE(std::string::npos,
                  run.output.find("\nExit codes: 0 success; 1 reading or writing failed (OUT's "
                                  "folder missing or read-only, a full disk);\n"));
    }
    EXPECT_EQ(std::vector<std::string>{}, entriesOf(dir.path()));
}

TEST_F(StampCases, AnExistingOutputIsReplacedOnlyWithForce) {
    writeBytes(out, "an earlier release");
    const std::string payload = argument(dir / "payload.exe");
    const std::string other = argument(windowsProgram("elevation-probe.exe"));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--payload", installer, "--output", out, stub},
          {"extract", "--output", out, stub}}) {
        const ToolRun refused = runTool(arguments);
        EXPECT_EQ(2, refused.exitCode);
        EXPECT_NE(std::string::npos,
                  refused.output.find("error: OUT '" + out + "' exists; --force replaces it"))
            << refused.output;
    }
    EXPECT_EQ("an earlier release", readBytes(out));

    ASSERT_EQ(0, runTool({"--payload", installer, "--force", "--output", out, stub}).exitCode);
    ASSERT_EQ(0, runTool({"extract", "--output", payload, out}).exitCode);
    EXPECT_EQ(readBytes(installer), readBytes(payload));
    // Stamping a launcher onto itself, and extracting over an earlier file, replace them as well.
    ASSERT_EQ(0, runTool({"--payload", other, "--force", "--output", out, out}).exitCode);
    ASSERT_EQ(0, runTool({"extract", "--force", "--output", payload, out}).exitCode);
    EXPECT_EQ(readBytes(other), readBytes(payload));
    EXPECT_EQ((std::vector<std::string>{"out.exe", "payload.exe"}), entriesOf(dir.path()));
}

TEST_F(StampCases, AToolKilledWhileWritingLeavesNothing) {
    // A payload large enough that the output is being written for a while: zeros behind "MZ".
    const fs::path payload = dir / "large.exe";
    writeBytes(payload, "MZ");
    fs::resize_file(payload, 512u << 20);
    const fs::path output = dir / "out";
    fs::create_directory(output);
    StartedTool tool({"--payload", argument(payload), "--output", argument(output / "setup.exe"), stub});
    bool seen = false;
    while (!seen && tool.running()) {
        seen = tool.writesInto(output);
    }
    ASSERT_TRUE(seen) << "the tool ended before its output was seen";
    tool.kill();
    EXPECT_EQ(std::vector<std::string>{}, entriesOf(output));
}

TEST_F(StampCases, AnInputThatChangesWhileItIsReadIsReportedByName) {
    // The payload's first chunk is copied; then the file ends before the rest, or grows, and the rest is
    // copied (rows 0, 1: as the payload is) or read (rows 2, 3: as headers are). Windows holds an input
    // against every writer that share modes bind, and refuses the change.
#ifdef _WIN32
    const bool held = true;
#else
    const bool held = false;
#endif
    const fs::path input = dir / "payload.exe";
    const std::string bytes = "MZ" + std::string(3u << 20, 'p');
    const std::size_t chunk = 1u << 20;
    for (const int row : {0, 1, 2, 3}) {
        SCOPED_TRACE(row);
        writeBytes(input, bytes);
        const stamp::InputFile payload(argument(input), "PAYLOAD");
        stamp::PendingOutput pending(out);
        stamp::OutputFile output(pending);
        output.copyFrom(payload, 0, chunk);
        std::error_code refused;
        fs::resize_file(input, row % 2 == 0 ? chunk / 2 : bytes.size() + 1, refused);
        std::string rest(bytes.size() - chunk, '\0'), outcome = "read whole";
        try {
            row < 2 ? output.copyFrom(payload, chunk, rest.size())
                    : payload.readInto(chunk, &rest[0], rest.size());
        } catch (const std::runtime_error& error) {
            outcome = error.what();
        }
        EXPECT_EQ(held, static_cast<bool>(refused));
        EXPECT_EQ(held ? "read whole" : "PAYLOAD changed while it was read: '" + argument(input) + "'",
                  outcome);
    }
}

TEST_F(StampCases, EveryLauncherSaysWhichReleaseItIs) {
    EXPECT_EQ("launcher-stamp " KRO_RELEASE "\n", runTool({"--version"}).output);
    EXPECT_NE(std::string::npos, runTool({"inspect", stub}).output.find("\nlauncher: " KRO_RELEASE "\n"));
    // A launcher from before releases were recorded: the stub without its release resource.
    std::string older = readBytes(stub);
    const std::size_t at = older.find(std::string("L\0A\0U\0N\0C\0H\0E\0R\0_\0R\0E\0L\0E\0A\0S\0E\0", 32));
    ASSERT_NE(std::string::npos, at);
    writeBytes(dir / "older.exe", older.replace(at, 2, std::string("X\0", 2)));
    const ToolRun text = runTool({"inspect", argument(dir / "older.exe")});
    const ToolRun json = runTool({"inspect", "--json", argument(dir / "older.exe")});
    EXPECT_EQ(0, text.exitCode + json.exitCode);
    EXPECT_NE(std::string::npos,
              text.output.find("\nlauncher: unknown release (built before launchers recorded theirs)\n"));
    EXPECT_NE(std::string::npos, json.output.find(",\"launcher\":null,")) << json.output;
}

TEST_F(StampCases, InspectAndExtractShowWhatTheLauncherCarries) {
    // A payload whose digest is known: "MZ" and a line of text.
    const std::string payload = argument(dir / "payload.exe");
    writeBytes(payload, "MZ carried by the launcher\n");
    const std::string icon = argument(dir / "release.ico");
    writeBytes(icon, iconFile({bitmapImage('b'), pngImage()}));
    // Values in either form, a version of two numbers; OriginalFilename is OUT's, a FileDescription given
    // wins.
    const ToolRun stamped =
        runTool({"--payload=" + payload, "--icon", icon, "--file-version=2.3",
                 "--version-string=FileDescription=Mine", "--version-string",
                 "ProductName=Acm\u00e9 \"Quoted\"\\", "--no-unsigned-warning", "--output=" + out, stub});
    EXPECT_EQ(0, stamped.exitCode);
    EXPECT_EQ("launcher-stamp: wrote '" + out + "' (" + std::to_string(fs::file_size(out)) + " bytes)\n",
              stamped.output);
    // Windows loads a launcher whole at its start from a share or removable media (both run-from-swap flags):
    // stamping keeps the stub's flags.
    for (const std::string& launcher : {stub, out}) {
        std::string bytes = readBytes(launcher);
        EXPECT_EQ(0x0C00, ntHeadersIn(bytes)->fileHeader.characteristics & 0x0C00) << launcher;
    }
    const ToolRun json = runTool({"inspect", "--json", out});
    EXPECT_EQ(0, json.exitCode);
    std::string escapedOut;  // Windows paths have backslashes
    for (const char c : out) {
        escapedOut += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    EXPECT_EQ(
        "{\"file\":\"" + escapedOut +
            "\",\"launcher\":\"" KRO_RELEASE
            "\",\"signed\":false,\"payload\":{\"size\":27,\"sha256\":"
            "\"c407a8f37140ec8942a8eb5493ff4536b69928d1ab7f3aa637f2cc2a6ff29f01\",\"signed\":false},"
            "\"fileVersion\":\"2.3.0.0\",\"productVersion\":\"1.0.0.0\",\"versionStrings\":{\"040904b0\":{"
            "\"CompanyName\":\"\",\"FileDescription\":\"Mine\",\"FileVersion\":\"2.3.0.0\","
            "\"InternalName\":\"Setup "
            "Launcher\",\"LegalCopyright\":\"\",\"OriginalFilename\":\"out.exe\","
            "\"ProductName\":\"Acm\u00e9 \\\"Quoted\\\"\\\\\",\"ProductVersion\":\"1.0.0.0\"}},\"icon\":["
            "{\"width\":16,\"height\":16,\"bitDepth\":32},{\"width\":32,\"height\":32,\"bitDepth\":32}]}\n",
        json.output);
    const ToolRun text = runTool({"inspect", out});
    EXPECT_EQ(0, text.exitCode);
    for (const char* line :
         {"\nlauncher signature: none\npayload: 27 bytes\n", "\n  ProductName = Acm\u00e9 \"Quoted\"\\\n",
          "\nicon: 2 images\n  16x16, 32 bits\n  32x32, 32 bits\n"}) {
        EXPECT_NE(std::string::npos, text.output.find(line)) << text.output;
    }

    const std::string extracted = argument(dir / "extracted.exe");
    const ToolRun extract = runTool({"extract", "--output", extracted, out});
    EXPECT_EQ(0, extract.exitCode);
    EXPECT_EQ("launcher-stamp: wrote '" + extracted + "' (27 bytes)\n", extract.output);
    EXPECT_EQ(readBytes(payload), readBytes(extracted));
}

}  // namespace
