// launcher-stamp run as a process on Linux, macOS and other POSIX systems, for the shared stamping cases.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outputPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_NE(-1, pid) << "cannot start " << KRO_STAMP_TOOL;
    return pid;
}

// The exit code of the ended process; a signal that ended it counts as 128 and its number, as shells show.
int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& arguments) {
    const ScratchFolder folder("stamp-run");
    const std::string outputPath = argument(folder / "output.txt");
    ToolRun run;
    const pid_t pid = spawnTool(arguments, outputPath);
    if (pid < 0) {
        run.exitCode = -1;
        return run;
    }
    run.exitCode = waitFor(pid);
    run.output = readBytes(outputPath);
    return run;
}

struct StartedTool::Native {
    pid_t pid = -1;
    int exitCode = -1;
};

StartedTool::StartedTool(const std::vector<std::string>& arguments) : native_(new Native) {
    native_->pid = spawnTool(arguments, "/dev/null");
}

StartedTool::~StartedTool() {
    if (running()) {
        kill();
    }
}

bool StartedTool::running() const {
    int status = 0;
    if (native_->pid < 0 || native_->exitCode >= 0) {
        return false;
    }
    if (waitpid(native_->pid, &status, WNOHANG) == native_->pid) {
        native_->exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

bool StartedTool::writesInto(const fs::path& folder) const {
    // The tool's open files, unnamed ones included, show in /proc as links "FOLDER/#NUMBER (deleted)".
    const fs::path descriptors = "/proc/" + std::to_string(native_->pid) + "/fd";
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(descriptors, error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.parent_path() == folder) {
            return true;
        }
    }
    // Elsewhere a named temporary file shows in the folder.
    return !entriesOf(folder).empty();
}

void StartedTool::kill() {
    ::kill(native_->pid, SIGKILL);
    native_->exitCode = waitFor(native_->pid);
}

fs::path windowsProgram(const char* name) {
    return fs::path(KRO_WINDOWS_BIN) / name;
}

}  // namespace stampcases
