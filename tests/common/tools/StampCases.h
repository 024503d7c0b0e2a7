// What the launcher-stamp tests share on every system: the tool run as a real process, scratch folders, and
// the inputs they build (icons, images, launchers with a version block of their own). The process runner is
// each system's own (tests/windows/tools, tests/posix/tools); the rest is portable.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ImageFormat.h"

namespace stampcases {

namespace fs = std::filesystem;

// What stamping says of a payload without a signature, the demo installer for one.
constexpr char UNSIGNED_PAYLOAD_WARNING[] =
    "launcher-stamp: warning: PAYLOAD carries no Authenticode signature: where policies allow only signed "
    "programs (AppLocker, WDAC), it is blocked when the launcher runs it from TEMP\n";

struct ToolRun {
    int exitCode = 0;
    bool finished = true;  // false: it hung, and was ended after a minute
    std::string output;    // standard output and error together
};

// Runs launcher-stamp with the arguments (UTF-8) to its end.
ToolRun runTool(const std::vector<std::string>& arguments);

// launcher-stamp started and left running; ended by the destructor if it still runs.
class StartedTool {
public:
    explicit StartedTool(const std::vector<std::string>& arguments);
    ~StartedTool();
    StartedTool(const StartedTool&) = delete;
    StartedTool& operator=(const StartedTool&) = delete;

    bool running() const;
    // True while the tool writes a file in folder, named or not (Linux's unnamed files).
    bool writesInto(const fs::path& folder) const;
    // Ends the tool at once, as a kill does, and returns when it has ended.
    void kill();

private:
    struct Native;
    std::unique_ptr<Native> native_;
};

// A program of the Windows build that the tests stamp: setup-stub.exe, demo-installer.exe,
// elevation-probe.exe.
fs::path windowsProgram(const char* name);

// The path as the tool's argument: UTF-8.
std::string argument(const fs::path& path);
// The bytes of a file; empty when it can't be read.
std::string readBytes(const fs::path& path);
void writeBytes(const fs::path& path, const std::string& bytes);
// The names in a folder, sorted.
std::vector<std::string> entriesOf(const fs::path& folder);

// A fresh folder in the system's temporary folder, removed with everything in it when the object goes.
class ScratchFolder {
public:
    explicit ScratchFolder(const char* prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const char* name) const { return path_ / name; }

private:
    fs::path path_;
};

// An .ico file of the images, each described as 16 * (index + 1) pixels square, 32 bits.
std::string iconFile(const std::vector<std::string>& images);
std::string bitmapImage(char fill);
std::string pngImage();
// An icon of count entries that all describe the same bytes: the whole file from the first entry on, whose
// first four bytes read as a bitmap header's size (40).
std::string multipliedIcon(std::uint16_t count);
// A version block of depth nodes, each the only child of the one before and just shorter than it: the
// deepest that fits a node's 16-bit length when depth is 8191.
std::string nestedVersionBlock(std::size_t depth);

// The NT headers of image bytes, and the header of their resource section.
stamp::image::NtHeaders64* ntHeadersIn(std::string& image);
stamp::image::SectionHeader* resourceSectionIn(std::string& image);
// The stub with block as its version resource and nothing else changed: the block is carried in the payload
// of a launcher stamped in folder, the payload's entry then shrunk to the 8 bytes before it and the version's
// entry pointed at it. Fails the test when the stub's layout doesn't allow it.
std::string launcherWithVersion(const std::string& block, const fs::path& folder);

}  // namespace stampcases
