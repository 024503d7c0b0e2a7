// launcher-stamp's entry point on Linux, macOS and other POSIX systems: arguments and output are UTF-8.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "CommandLine.h"
#include "Console.h"

namespace stamp {

void printLine(Stream stream, const std::string& utf8) {
    const int fd = stream == Stream::output ? STDOUT_FILENO : STDERR_FILENO;
    const std::string line = utf8 + "\n";
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t written = write(fd, line.data() + done, line.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // nowhere left to say it
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace stamp

int main(int argc, char** argv) {
    return stamp::runCommandLine(std::vector<std::string>(argv + 1, argv + argc));
}
