// launcher-stamp run as a process on Linux, macOS and other POSIX systems, for the shared stamping cases.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "StampCases.h"

extern char** environ;

namespace stampcases {

namespace {

// Starts the tool with standard output and error going to outputPath; the process id, or -1.
pid_t spawnTool(const std::vector<std::string>& arguments, const std::string& outputPath) {
    std::vector<std::string> words = {KRO_STAMP_TOOL};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    EXPECT_EQ(0, posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ)) << KRO_STAMP_TOOL;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// The exit code; a signal that ended the process counts as 128 and its number, as shells show it.
int exitCodeOf(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& arguments) {
    const ScratchFolder folder("stamp-run");
    const std::string outputPath = argument(folder / "output.txt");
    int status = 0;
    waitpid(spawnTool(arguments, outputPath), &status, 0);
    return ToolRun{exitCodeOf(status), true, readBytes(outputPath)};
}

struct StartedTool::Native {
    pid_t pid;
    bool ended = false;
};

StartedTool::StartedTool(const std::vector<std::string>& arguments)
    : native_(new Native{spawnTool(arguments, "/dev/null")}) {}

StartedTool::~StartedTool() {
    kill();
}

bool StartedTool::running() const {
    int status = 0;
    native_->ended = native_->ended || waitpid(native_->pid, &status, WNOHANG) == native_->pid;
    return !native_->ended;
}

bool StartedTool::writesInto(const fs::path& folder) const {
    // The tool's open files show in /proc as links, an unnamed one as "FOLDER/#NUMBER (deleted)"; elsewhere a
    // temporary name shows in the folder.
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(native_->pid) + "/fd", error)) {
        if (fs::read_symlink(entry.path(), error).parent_path() == folder) {
            return true;
        }
    }
    return !entriesOf(folder).empty();
}

void StartedTool::kill() {
    if (running()) {
        ::kill(native_->pid, SIGKILL);
        waitpid(native_->pid, nullptr, 0);
        native_->ended = true;
    }
}

fs::path windowsProgram(const char* name) {
    return fs::path(KRO_WINDOWS_BIN) / name;
}

}  // namespace stampcases
