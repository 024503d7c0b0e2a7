// launcher-stamp.exe run as a process on Windows (and under Wine), for the shared stamping cases.
#include <windows.h>

#include "StampCases.h"
#include "TestSupport.h"
#include "tstrings.h"

namespace stampcases {

namespace {

const std::wstring TOOL = L"launcher-stamp.exe";

std::vector<std::wstring> wide(const std::vector<std::string>& arguments) {
    std::vector<std::wstring> result;
    for (const std::string& each : arguments) {
        result.push_back(tstrings::fromMultiByte(each));
    }
    return result;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& arguments) {
    const ScratchFolder folder("stamp-run");
    testsupport::ProcessOptions options;
    options.outputPath = (folder / "output.txt").wstring();
    ToolRun run;
    DWORD exitCode = 0;
    run.finished = testsupport::startProcess(testsupport::binPath(TOOL), wide(arguments), options)
                       .waitAtMost(60000, exitCode);
    run.exitCode = static_cast<int>(exitCode);
    run.output = readBytes(options.outputPath);
    return run;
}

struct StartedTool::Native {
    testsupport::RunningProcess process;
};

StartedTool::StartedTool(const std::vector<std::string>& arguments)
    : native_(new Native{testsupport::startProcess(testsupport::binPath(TOOL), wide(arguments))}) {}

StartedTool::~StartedTool() {
    kill();
}

bool StartedTool::running() const {
    return WaitForSingleObject(native_->process.handle(), 0) == WAIT_TIMEOUT;
}

bool StartedTool::writesInto(const fs::path& folder) const {
    // The output is written under a temporary name in its folder, marked for deletion before its first byte:
    // a name alone may not be marked yet.
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::uintmax_t size = entry.file_size(error);
        if (!error && size != 0) {
            return true;
        }
    }
    return false;
}

void StartedTool::kill() {
    TerminateProcess(native_->process.handle(), 9);
    native_->process.wait();
}

fs::path windowsProgram(const char* name) {
    return testsupport::binPath(tstrings::fromMultiByte(name));
}

}  // namespace stampcases
