// The main of every unit-test executable.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    // Binary output: the test lists that ctest reads must not carry carriage returns.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);

    // Each test process gets a temporary directory of its own, so that logs and scratch files of tests
    // running in parallel never meet. It is removed at the end.
    namespace fs = std::filesystem;
    const fs::path temp = fs::temp_directory_path() / "kro-tests" /
                          (std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()));
    fs::create_directories(temp);
    SetEnvironmentVariableW(L"TMP", temp.wstring().c_str());
    SetEnvironmentVariableW(L"TEMP", temp.wstring().c_str());

    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();

    std::error_code ignored;
    fs::remove_all(temp, ignored);
    return status;
}
